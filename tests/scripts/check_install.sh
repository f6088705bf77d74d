#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, then builds tiny consumers against it: the flat
# library interface, and the front door from C++ and from C reading the built-in sample, through
# find_package(idut CONFIG) and through pkg-config. All must run; the readers must print the
# sample's three symbols with their texts.
set -euo pipefail
build="$1"; consumer="$2"; work="$3"; sample="$4"
expected=$'DataMatrix IDUT-42\nDataMatrix idut sample 1: 0123456789\nDataMatrix https://example.org/idut'
check_reads() {
  local got
  got=$("$@")
  if [ "$got" != "$expected" ]; then echo "$1 printed:"; echo "$got"; exit 1; fi
}
rm -rf "$work"; mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"
check_reads "$work/cmake/reader_consumer" "$sample"
check_reads "$work/cmake/reader_consumer_c" "$sample"
libdir=$(dirname "$(find "$work/prefix" -name 'idut.pc' | head -1)")
export PKG_CONFIG_PATH="$libdir"
c++ -std=c++20 "$consumer/main.cpp" $(pkg-config --cflags --libs idut) -o "$work/consumer_pc" \
  -Wl,-rpath,"$(pkg-config --variable=libdir idut)"
"$work/consumer_pc"
cc -std=c11 -c "$consumer/png_grey.c" -o "$work/png_grey.o" $(pkg-config --cflags libpng)
cc -std=c11 "$consumer/reader.c" "$work/png_grey.o" $(pkg-config --cflags --libs idut-reader libpng) \
  -o "$work/reader_pc" -Wl,-rpath,"$(pkg-config --variable=libdir idut-reader)"
check_reads "$work/reader_pc" "$sample"
echo "install ok"
