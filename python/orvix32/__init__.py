"""The ORVIX32 card reader driver for Python.

A pure-Python binding (ctypes) over the ORVIX32 library::

    import orvix32

    with orvix32.Reader(0) as reader:
        reader.mifare.request()
        serial = reader.mifare.anticollision()
        reader.mifare.select(serial)
        reader.mifare.load_key(1, b"\\xff" * 6)
        reader.mifare.authenticate(1)
        print(reader.mifare.read(5).hex())

Every failure raises a subclass of :class:`Error`. :mod:`orvix32.testing`
runs the reader simulator for tests.
"""

from . import des
from ._library import find_library, library_path
from .errors import (ArgumentError, ArgumentTypeError, CardTypeError, Error,
                     LibraryNotFoundError, LinkError, ReaderError, Result, StatusWordError)
from .mifare import (ValueBlock, decode_access_bits, encode_access_bits, parse_value_block,
                     value_block)
from .reader import (YEAR_ZERO, AT1608, Attendance, MemoryCard, Mifare, Position, Reader, Record,
                     Response, RF5550, Slot, SlotState)

__version__ = "1.0.0"

__all__ = [
    "AT1608", "ArgumentError", "ArgumentTypeError", "Attendance", "CardTypeError", "Error", "LibraryNotFoundError",
    "LinkError", "MemoryCard", "Mifare", "Position", "RF5550", "Reader", "ReaderError", "Record",
    "Response", "Result", "Slot", "SlotState", "StatusWordError", "ValueBlock", "YEAR_ZERO", "des",
    "decode_access_bits", "encode_access_bits", "find_library", "library_path",
    "parse_value_block", "value_block",
]
