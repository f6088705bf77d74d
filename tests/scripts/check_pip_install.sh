#!/usr/bin/env bash
# `pip install .` as a Python user runs it: a clean copy of the checkout (its files under version
# control, nothing built), a fresh virtual environment with the system's packages (numpy), pip
# offline with the system's setuptools. Then the package, copied somewhere else, still imports
# and reads the built-in sample: the module finds its libraries through its own directory.
#   check_pip_install.sh SOURCE PYTHON WORK
set -euo pipefail
source="$1"; python="$2"; work="$3"
rm -rf "$work"; mkdir -p "$work/src"

# The checkout's files as git knows them (new ones too), else everything but build trees.
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$source" && git ls-files -z --cached --others --exclude-standard) >"$work/files"
  # Files deleted but not yet committed are listed too: tar passes over them.
  (cd "$source" && tar --null --ignore-failed-read -T "$work/files" -cf - 2>/dev/null) | tar -C "$work/src" -xf -
else
  tar -C "$source" --exclude='./build*' -cf - . | tar -C "$work/src" -xf -
fi
test -f "$work/src/setup.py" && test -f "$work/src/python/idut/__init__.py"

"$python" -m venv --system-site-packages "$work/venv"
pip=("$work/venv/bin/python" -m pip --disable-pip-version-check --no-cache-dir)
# A compiler launcher when one is at hand: CI builds the library twice otherwise.
if [ -z "${CMAKE_ARGS:-}" ] && command -v ccache >/dev/null; then
  export CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
  export CCACHE_BASEDIR="$work/src" CCACHE_NOHASHDIR=1
fi
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# A wheel, then the install from the same copy (the second build only checks it is up to date).
"${pip[@]}" wheel --no-build-isolation --no-index --no-deps -w "$work/wheels" "$work/src" >"$work/wheel.log" 2>&1 ||
  { tail -40 "$work/wheel.log"; exit 1; }
ls "$work/wheels"/idut-*.whl >/dev/null
"${pip[@]}" install --no-build-isolation --no-index "$work/src" >"$work/install.log" 2>&1 ||
  { tail -40 "$work/install.log"; exit 1; }

cd "$work"
unset PYTHONPATH LD_LIBRARY_PATH
check='
import sys, idut
assert idut.__file__.startswith(sys.argv[1]), idut.__file__
texts = [s.text for s in idut.find(idut.sample_image())]
assert texts == ["IDUT-42", "idut sample 1: 0123456789", "https://example.org/idut"], texts
print(idut.__version__, "from", idut.__file__)
'
"$work/venv/bin/python" -c "$check" "$work/venv/"
site=$("$work/venv/bin/python" -c 'import idut, os; print(os.path.dirname(os.path.dirname(idut.__file__)))')
for library in "$site"/idut/*.so*; do
  readelf -d "$library" | grep -q 'R.*PATH.*\[\$ORIGIN\]' || [[ "$library" == */libidut.so.* ]] ||
    { echo "$library: no run path \$ORIGIN"; readelf -d "$library" | grep -i path; exit 1; }
done
mkdir -p "$work/elsewhere" && cp -r "$site/idut" "$work/elsewhere/"
PYTHONPATH="$work/elsewhere" "$python" -c "$check" "$work/elsewhere/"
echo "pip install ok"
