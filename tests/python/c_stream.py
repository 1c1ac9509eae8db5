"""Reads an Arrow C stream as a consumer without pyarrow does: from C, through ctypes,
which calls get_next without the interpreter lock."""

from __future__ import annotations

import ctypes
from typing import Any


class _Stream(ctypes.Structure):
    pass


class _Array(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int64) for name in ("length", "null_count", "offset", "n_buffers", "n_children")] + [
        ("buffers", ctypes.c_void_p), ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p),
        ("release", ctypes.CFUNCTYPE(None, ctypes.c_void_p)), ("private_data", ctypes.c_void_p)]


_Stream._fields_ = [
    ("get_schema", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Stream), ctypes.c_void_p)),
    ("get_next", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Stream), ctypes.POINTER(_Array))),
    ("get_last_error", ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.POINTER(_Stream))),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(_Stream))),
    ("private_data", ctypes.c_void_p)]

_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.restype = ctypes.c_void_p
_capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]


def batch_lengths(exporter: Any) -> list[int]:
    """The length of each batch of `exporter.__arrow_c_stream__()`; OSError with the
    stream's last error when get_next fails."""
    capsule = exporter.__arrow_c_stream__()  # releases the stream when it dies
    pointer = ctypes.cast(_capsule_pointer(capsule, b"arrow_array_stream"), ctypes.POINTER(_Stream))
    stream = pointer.contents
    lengths = []
    while True:
        array = _Array()
        code = stream.get_next(pointer, ctypes.byref(array))
        if code != 0:
            raise OSError(code, stream.get_last_error(pointer).decode())
        if not array.release:
            return lengths
        lengths.append(array.length)
        array.release(ctypes.addressof(array))
