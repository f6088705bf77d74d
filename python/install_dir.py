"""Prints the directory, relative to an install prefix, where that prefix's Python finds modules.

A prefix with its own interpreter (a virtual environment, a Python built into it) is asked
directly. Otherwise a site directory of this interpreter that lies under the prefix is taken
(Debian's /usr/local/lib/python3.X/dist-packages), else the standard layout
lib/python3.X/site-packages, which an interpreter installed into the prefix would search.
"""
import os
import site
import subprocess
import sys
import sysconfig

prefix = os.path.abspath(sys.argv[1])


def relative(path):
    path = os.path.abspath(path)
    if os.path.commonpath([path, prefix]) == prefix and path != prefix:
        return os.path.relpath(path, prefix)
    return None


own = os.path.join(prefix, "bin", "python3")
if os.access(own, os.X_OK) and (os.path.exists(os.path.join(prefix, "pyvenv.cfg")) or
                                os.path.realpath(own) != os.path.realpath(sys.executable)):
    out = subprocess.run([own, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"],
                         capture_output=True, text=True)
    found = relative(out.stdout.strip()) if out.returncode == 0 else None
    if found:
        print(found)
        sys.exit(0)

# The nearest one: for /usr, lib/python3/dist-packages rather than local/lib/...
under = sorted((p for p in map(relative, site.getsitepackages()) if p), key=lambda p: p.count(os.sep))
if under:
    print(under[0])
    sys.exit(0)

print(os.path.relpath(sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix}),
                      prefix))
