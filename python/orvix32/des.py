"""Single DES in electronic codebook mode, computed by the library on the host
(no reader needed): each 8-byte block on its own with the same key."""

from __future__ import annotations

from . import _check, _library
from .errors import ArgumentError, check


def _run(name: str, key: bytes, data: bytes) -> bytes:
    key = _check.data(key, "a DES key", 8)
    data = _check.data(data, "data", high=_check.INT32_MAX - 7)
    if len(data) % 8:
        raise ArgumentError(f"data of {len(data)} bytes is not a multiple of 8")
    src = _library.buffer(len(data), data)
    out = _library.buffer(len(data))
    check(getattr(_library.library(), name)(src, _library.buffer(8, key), out, len(data)), name)
    return bytes(out[: len(data)])


def encrypt(key: bytes, data: bytes) -> bytes:
    """``data`` (a multiple of 8 bytes) enciphered with the 8-byte ``key``."""
    return _run("EnDesData", key, data)


def decrypt(key: bytes, data: bytes) -> bytes:
    """``data`` (a multiple of 8 bytes) deciphered with the 8-byte ``key``."""
    return _run("UnDesData", key, data)
