"""Mifare 1 data formats, in pure Python: access bits of a sector trailer and
value blocks.

An access condition is the three bits C1 C2 C3 of one block as an int 0 … 7
(C1 the high bit): 0 is the transport condition of a data block, 1 that of a
trailer, 6 a value block that can be incremented with key B.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Tuple

from . import _check
from .errors import ArgumentError

AccessConditions = Tuple[int, int, int, int]


def _access_bytes(data: bytes) -> bytes:
    if len(data) == 16:
        return bytes(data[6:9])
    if len(data) in (3, 4):
        return bytes(data[:3])
    raise ArgumentError(f"a trailer is 16 bytes, access bytes 3 or 4, not {len(data)}")


def decode_access_bits(trailer: bytes) -> AccessConditions:
    """The access conditions of blocks 0, 1, 2 and the trailer of a sector.

    ``trailer`` is the 16-byte sector trailer, or its access bytes (6 … 8, with
    or without byte 9). Raises :class:`ArgumentError` when the bits do not
    match their inverted copies: the card treats such a sector as locked.
    """
    b6, b7, b8 = _access_bytes(_check.data(trailer, "a trailer"))
    c1, c2, c3 = b7 >> 4, b8 & 0x0F, b8 >> 4
    if (b6 & 0x0F) != (~c1 & 0x0F) or (b6 >> 4) != (~c2 & 0x0F) or (b7 & 0x0F) != (~c3 & 0x0F):
        raise ArgumentError(f"access bytes {b6:02X} {b7:02X} {b8:02X} do not match their "
                            "inverted copies (sector locked)")
    return tuple(  # type: ignore[return-value]
        ((c1 >> n) & 1) << 2 | ((c2 >> n) & 1) << 1 | ((c3 >> n) & 1) for n in range(4))


def encode_access_bits(block0: int, block1: int, block2: int, trailer: int) -> bytes:
    """The three access bytes (trailer bytes 6 … 8) for these conditions (each 0 … 7)."""
    c1 = c2 = c3 = 0
    for n, cond in enumerate((block0, block1, block2, trailer)):
        cond = _check.integer(cond, "an access condition", 0, 7)
        c1 |= (cond >> 2 & 1) << n
        c2 |= (cond >> 1 & 1) << n
        c3 |= (cond & 1) << n
    return bytes(((~c2 & 0x0F) << 4 | (~c1 & 0x0F), c1 << 4 | (~c3 & 0x0F), c3 << 4 | c2))


@dataclass(frozen=True)
class ValueBlock:
    """A value block's amount and the address byte stored with it."""

    value: int
    address: int


def value_block(value: int, address: int = 0) -> bytes:
    """The 16 bytes of a value block holding ``value`` (signed 32-bit), with
    ``address`` (0 … 255) in its address bytes."""
    value, address = _check.integer(value, "value"), _check.byte(address, "address")
    v = value.to_bytes(4, "little", signed=True)
    inv = bytes(b ^ 0xFF for b in v)
    return v + inv + v + bytes((address, address ^ 0xFF, address, address ^ 0xFF))


def parse_value_block(data: bytes) -> ValueBlock:
    """The value and address of a 16-byte value block; :class:`ArgumentError`
    when the block is not in value format."""
    data = _check.data(data, "a value block", 16)
    v, inv, again, a = data[0:4], data[4:8], data[8:12], data[12:16]
    if (v != again or any(x ^ y != 0xFF for x, y in zip(v, inv))
            or a[0] != a[2] or a[1] != a[3] or a[0] ^ a[1] != 0xFF):
        raise ArgumentError("not in value format: " + bytes(data).hex(" ").upper())
    return ValueBlock(int.from_bytes(v, "little", signed=True), a[0])
