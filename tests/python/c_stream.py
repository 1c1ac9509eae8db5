"""Arrow C streams through ctypes: read as a consumer without pyarrow reads them (from
C, calling get_next without the interpreter lock), and altered as a buggy producer
would hand them out."""

from __future__ import annotations

import ctypes
from typing import Any


class _Stream(ctypes.Structure):
    pass


class _Array(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int64) for name in ("length", "null_count", "offset", "n_buffers", "n_children")] + [
        ("buffers", ctypes.c_void_p), ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p),
        ("release", ctypes.CFUNCTYPE(None, ctypes.c_void_p)), ("private_data", ctypes.c_void_p)]


_Release = ctypes.CFUNCTYPE(None, ctypes.POINTER(_Array))
_GetNext = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Stream), ctypes.POINTER(_Array))

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


def _structures(array: ctypes.Array | Any) -> list[tuple[int, bytes]]:
    """(address, bytes) of an array's structure and of all its descendants'."""
    found = [(ctypes.addressof(array), ctypes.string_at(ctypes.addressof(array), ctypes.sizeof(_Array)))]
    children = ctypes.cast(array.children, ctypes.POINTER(ctypes.POINTER(_Array)))
    for index in range(array.n_children):
        found += _structures(children[index].contents)
    return found


class Tampered:
    """A producer whose every batch `change(array)` alters in place before the consumer
    gets it: a hand-made or buggy exporter. Each batch is put back as pyarrow made it
    before pyarrow releases it, so nothing leaks."""

    def __init__(self, exporter: Any, change: Any) -> None:
        self._exporter, self._change, self._kept = exporter, change, []

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        capsule = self._exporter.__arrow_c_stream__()
        stream = ctypes.cast(_capsule_pointer(capsule, b"arrow_array_stream"), ctypes.POINTER(_Stream)).contents
        original = _GetNext(ctypes.cast(stream.get_next, ctypes.c_void_p).value)
        saved: dict[int, list[tuple[int, bytes]]] = {}

        def release(pointer: Any) -> None:
            top, *rest = saved.pop(pointer.contents.private_data)  # kept when a consumer moves the batch
            for address, value in rest:
                ctypes.memmove(address, value, len(value))
            ctypes.memmove(pointer, top[1], len(top[1]))
            pointer.contents.release(pointer)

        def get_next(pointer: Any, out: Any) -> int:
            code = original(pointer, out)
            if code == 0 and out.contents.release:
                saved[out.contents.private_data] = _structures(out.contents)
                self._change(out.contents)
                out.contents.release = ctypes.cast(release_callback, type(out.contents.release))
            return code

        release_callback, next_callback = _Release(release), _GetNext(get_next)
        self._kept += [original, release_callback, next_callback]  # the callbacks live as long as the producer
        stream.get_next = ctypes.cast(next_callback, type(stream.get_next))
        return capsule


def child(array: Any, index: int) -> Any:
    """The structure of `array`'s child `index`."""
    return ctypes.cast(array.children, ctypes.POINTER(ctypes.POINTER(_Array)))[index].contents


class _Schema(ctypes.Structure):
    pass


_Schema._fields_ = [("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_void_p),
                    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64), ("children", ctypes.c_void_p),
                    ("dictionary", ctypes.c_void_p), ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(_Schema))),
                    ("private_data", ctypes.c_void_p)]

_capsule_new = ctypes.pythonapi.PyCapsule_New
_capsule_new.restype = ctypes.py_object
_capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


class SchemaOnly:
    """A hand-made producer whose stream has the schema `fields` describe (a struct of
    no columns unless they say otherwise) and no batches."""

    def __init__(self, **fields: Any) -> None:
        release_schema = _Schema._fields_[7][1](lambda schema: None)
        self._schema = _Schema(**{"format": b"+s", "release": release_schema, **fields})
        self._stream = _Stream()
        self._stream.get_schema = type(self._stream.get_schema)(self._get_schema)
        self._stream.get_next = type(self._stream.get_next)(self._get_next)
        self._stream.release = type(self._stream.release)(lambda stream: None)

    def _get_schema(self, stream: Any, out: int) -> int:
        ctypes.memmove(out, ctypes.addressof(self._schema), ctypes.sizeof(_Schema))
        return 0

    def _get_next(self, stream: Any, out: Any) -> int:
        out.contents.release = type(out.contents.release)()
        return 0

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        return _capsule_new(ctypes.addressof(self._stream), b"arrow_array_stream", None)
