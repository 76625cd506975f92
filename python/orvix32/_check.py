"""The checks every argument passes before anything is allocated or sent.

Each returns the value in the form the library takes (a Python ``int`` or
``bytes``) or raises: :class:`ArgumentTypeError` for a value of the wrong
kind, :class:`ArgumentError` for one out of the range the library documents.
Nothing here touches the library, so the checks stay the same whatever calls
it underneath.
"""

from __future__ import annotations

import datetime as _dt
from typing import Any, Iterable, Optional, Sequence, Tuple

from .errors import ArgumentError, ArgumentTypeError

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
BytesLike = (bytes, bytearray, memoryview)


def integer(value: Any, what: str, low: int = INT32_MIN, high: int = INT32_MAX) -> int:
    """An int (never a bool, never a float) within ``low`` … ``high``."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise ArgumentTypeError(f"{what} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ArgumentError(f"{what} must be {low} … {high}, not {value}")
    return int(value)


def byte(value: Any, what: str) -> int:
    """An int 0 … 255: an argument the reader takes as one byte."""
    return integer(value, what, 0, 255)


def flag(value: Any, what: str) -> bool:
    """A bool (or the int 0 or 1)."""
    if isinstance(value, bool):
        return value
    return bool(integer(value, what, 0, 1))


def data(value: Any, what: str, size: Optional[int] = None, *, low: int = 0,
         high: int = INT32_MAX) -> bytes:
    """bytes, bytearray or memoryview (of bytes): exactly ``size`` bytes when
    given, else ``low`` … ``high`` bytes."""
    if not isinstance(value, BytesLike):
        raise ArgumentTypeError(f"{what} must be bytes, bytearray or memoryview, not "
                                f"{type(value).__name__}")
    if isinstance(value, memoryview):
        if value.itemsize != 1:
            raise ArgumentTypeError(f"{what}: a memoryview of bytes, not of {value.format!r}")
        n = value.nbytes
    else:
        n = len(value)
    if size is not None and n != size:
        raise ArgumentError(f"{what} must be {size} bytes, not {n}")
    if not low <= n <= high:
        raise ArgumentError(f"{what} must be {low} … {high} bytes, not {n}")
    return bytes(value)


def one_of(value: Any, what: str, sizes: Iterable[int]) -> bytes:
    """Bytes of one of these lengths."""
    b = data(value, what)
    allowed = tuple(sizes)
    if len(b) not in allowed:
        raise ArgumentError(f"{what} must be {' or '.join(map(str, allowed))} bytes, not {len(b)}")
    return b


def key_type(value: Any) -> int:
    """'A' or 'B' (either case), or 0 or 1: the key type as 0 or 1."""
    if isinstance(value, str) and value.upper() in ("A", "B"):
        return "AB".index(value.upper())
    if isinstance(value, int) and not isinstance(value, bool) and value in (0, 1):
        return value
    raise (ArgumentError if isinstance(value, (str, int)) and not isinstance(value, bool)
           else ArgumentTypeError)(f"key type must be 'A' or 'B', not {value!r}")


def run(page: Any, address: Any, length: Any, end: int = 65536) -> Tuple[int, int, int]:
    """A contact card run: page and address >= 0, length > 0, and the run
    ending at or before position ``end`` (page × 256 + address)."""
    page = integer(page, "page", 0)
    address = integer(address, "address", 0)
    length = integer(length, "length", 1)
    if page * 256 + address + length > end:
        raise ArgumentError(f"the run from page {page}, address {address} of {length} bytes "
                            f"passes position {end - 1}")
    return page, address, length


def ints(values: Any, what: str, count: int) -> Tuple[int, ...]:
    """A sequence of exactly ``count`` 32-bit ints (bools allowed: they are flags)."""
    if isinstance(values, (str, bytes)) or not isinstance(values, Sequence):
        raise ArgumentTypeError(f"{what} must be a sequence of {count} ints")
    if len(values) != count:
        raise ArgumentError(f"{what} must be {count} items, not {len(values)}")
    return tuple(integer(int(v) if isinstance(v, bool) else v, f"{what} item {i}")
                 for i, v in enumerate(values))


def date(value: Any, what: str, kind: type = _dt.date) -> Any:
    """A date (or datetime, for ``kind`` datetime)."""
    if not isinstance(value, kind):
        raise ArgumentTypeError(f"{what} must be a {kind.__name__}, not {type(value).__name__}")
    return value
