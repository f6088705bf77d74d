#!/usr/bin/env bash
# The shared library exports its flat interface (C names with the library's module prefixes)
# and its exported classes, and nothing of the internals.
set -euo pipefail
lib="$1"
# Unique objects of the standard library (inline variables such as the ranges customisation
# points, type 'u') are exported by the toolchain whatever the visibility; they are not ours.
syms=$(nm -D --defined-only "$lib" | awk '!($2 == "u" && $3 ~ /^_ZNSt|^_ZSt/) {print $3}' | sort -u)
demangled=$(printf '%s\n' "$syms" | c++filt)

required="cidut_line_initDirPos cstd_vector__pushBack csys_memory_alloc_internal cstd_assert_ csys_attention_check cimg_image_construct csys_double_qsort csys_typeCheck_cid_mask"
missing=0
for name in $required; do
  if ! grep -x -- "$name" <<<"$syms" >/dev/null; then echo "missing export: $name"; missing=1; fi
done

# Allowed: C names with a module prefix; C++ names of the exported classes and templates.
bad=$(paste <(printf '%s\n' "$syms") <(printf '%s\n' "$demangled") | awk -F'\t' '
  $1 ~ /^(cidut|cid|cid2d|cidc|cip|cmath|cstd|csys|cimg|cbt|cdraw|cprt|cdiag|cf|cs)[A-Za-z0-9]*_/ { next }
  $1 ~ /^(cfPel|cfRow|cf2D|cfViewable|cfFFT|cfPower|cfLimited|cfEdge|cfGauss|cfPlpf|csGauss|csPlpf|rowExtrema|csEdge)/ { next }
  $2 ~ /(cxException|cxRange|cxHistoStats|ccCidLSLineFitter|cxTimer|cxVector|cx2Vect|cx2Xform|csys_vector_qsort|cc_Image)/ { next }
  $1 ~ /^(_init|_fini|_edata|_end|__bss_start)$/ { next }
  $1 ~ /^__(odr_asan|asan|ubsan|sanitizer)/ { next }
  { print $2 }')
if [ -n "$bad" ]; then
  echo "internal symbols exported:"; printf '%s\n' "$bad" | head -40; exit 1
fi
[ "$missing" -eq 0 ] || exit 1
echo "exports ok: $(printf '%s\n' "$syms" | wc -l) symbols"
