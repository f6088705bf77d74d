#!/usr/bin/env bash
# The reader library exports its front door (idut::... in C++, idut_... in C) and nothing of the
# roads and decoders behind it.
set -euo pipefail
lib="$1"
syms=$(nm -D --defined-only "$lib" | awk '!($2 == "u" && $3 ~ /^_ZNSt|^_ZSt/) {print $3}' | sort -u)
demangled=$(printf '%s\n' "$syms" | c++filt)
for name in idut_read_symbols idut_symbol_list_free idut_read_options_init; do
  grep -qx -- "$name" <<<"$syms" || { echo "missing export: $name"; exit 1; }
done
grep -q '^idut::readSymbols(' <<<"$demangled" || { echo "missing export: idut::readSymbols"; exit 1; }
bad=$(paste <(printf '%s\n' "$syms") <(printf '%s\n' "$demangled") | awk -F'\t' '
  $1 ~ /^idut_/ { next }
  $2 ~ /^(idut::|typeinfo for idut::|typeinfo name for idut::|vtable for idut::)/ { next }
  $1 ~ /^(_init|_fini|_edata|_end|__bss_start)$/ { next }
  $1 ~ /^__(odr_asan|asan|ubsan|sanitizer)/ { next }
  { print $2 }')
if [ -n "$bad" ]; then
  echo "internal symbols exported:"; printf '%s\n' "$bad" | head -40; exit 1
fi
echo "reader exports ok: $(printf '%s\n' "$syms" | wc -l) symbols"
