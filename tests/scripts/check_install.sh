#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, then builds a tiny consumer against it twice:
# through find_package(idut CONFIG) and through pkg-config. Both must run.
set -euo pipefail
build="$1"; consumer="$2"; work="$3"
rm -rf "$work"; mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"
libdir=$(dirname "$(find "$work/prefix" -name 'idut.pc' | head -1)")
export PKG_CONFIG_PATH="$libdir"
c++ -std=c++20 "$consumer/main.cpp" $(pkg-config --cflags --libs idut) -o "$work/consumer_pc" \
  -Wl,-rpath,"$(pkg-config --variable=libdir idut)"
"$work/consumer_pc"
echo "install ok"
