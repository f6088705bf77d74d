#!/usr/bin/env bash
# Installs the built tree into a scratch prefix that is a Python virtual environment (with the
# system's packages, for numpy), then runs the installed idut-find with no library path set and
# imports the module with the prefix's own interpreter, from outside the build tree.
set -euo pipefail
build="$1"; python="$2"; work="$3"
rm -rf "$work"; mkdir -p "$work"
"$python" -m venv --system-site-packages --without-pip "$work/prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cd "$work"
unset PYTHONPATH LD_LIBRARY_PATH
"$work/prefix/bin/idut-find" --no-progress | grep -q 'text="IDUT-42"'
"$work/prefix/bin/python3" -c "import idut, numpy; print(idut.find(numpy.zeros((100,100), numpy.uint8)))" | grep -qx '\[\]'
"$work/prefix/bin/python3" -c "import idut; assert idut.__file__.startswith('$work/prefix/'), idut.__file__"
echo "install ok"
