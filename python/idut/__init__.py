"""idut: locates and reads Data Matrix, PDF417 and 1D barcodes in 8-bit grey images.

find() searches a numpy image, read_file() an image file, read_files() many files on threads
(one FileResult record per file, errors included); idut.dask reads files on a Dask cluster.
The stand-alone families (Reed-Solomon, 160-bit integers, correlation, morphology, edges,
binarisation, pixel operations, spectra) take and return numpy arrays and ints.

Bad arguments raise TypeError or ValueError naming the argument. Failures of the library raise
idut.Error with its status code and name: idut.ArgumentError (also a ValueError) for an argument
the library refused, idut.OutOfMemoryError (also a MemoryError) when an allocation failed.
"""
from . import _idut
from ._idut import *  # noqa: F401,F403 - the compiled module's functions and classes
from ._idut import __version__, bigint  # noqa: F401
from ._files import FileResult, image_files, iter_files, read_files, symbol_dict  # noqa: F401

__all__ = sorted({name for name in dir(_idut) if not name.startswith("_")} |
                 {"FileResult", "image_files", "iter_files", "read_files", "symbol_dict"})
