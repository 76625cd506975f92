"""Mifare cards through the package against the simulated reader."""
import pytest

import orvix32
from orvix32 import ArgumentError, ReaderError

FF6, KEY_B, SERIAL = b"\xff" * 6, bytes.fromhex("B0B1B2B3B4B5"), bytes.fromhex("12345678")


def test_typical_road(sim, reader, fresh_card):
    m, data = reader.mifare, bytes(range(16))
    assert m.serial() == SERIAL
    m.load_key(1, FF6)
    m.authenticate(1)
    m.write(5, data)
    assert m.read(5) == data
    m.halt()
    with pytest.raises(ReaderError) as e:  # a halted card answers only "ALL"
        m.request(all=False)
    assert e.value.status == 0x20 and m.request(all=True) == 4
    assert m.read_block(5, SERIAL) == data  # one-shot, with the stored key
    assert sim.save_card()[80:96] == data


def test_value_blocks(reader, fresh_card):
    m = reader.mifare
    assert m.write_value(4, SERIAL, 1234567) == 1234567
    assert m.read_block(4, SERIAL) == orvix32.value_block(1234567, 4)
    assert m.increment_value(4, SERIAL, 3) == 1234570
    assert m.decrement_value(4, SERIAL, 1234571) == -1
    m.load_key(1, FF6)
    fresh_card()
    m.authenticate(1)
    m.write(5, orvix32.value_block(-(2**31), 5))
    with pytest.raises(ReaderError, match="0x25"):  # would leave the range
        m.decrement(5, 1)
    assert m.value(5) == -(2**31)  # the refused decrement left the block as it was
    m.write(6, bytes(range(16)))
    with pytest.raises(ReaderError, match="0x25"):  # not in value format
        m.increment(6, 1)
    good = orvix32.value_block(7, 5)
    for bad in (bytes(16), good[:15], good[:15] + b"\0", b"\x08" + good[1:], good[:4] * 4):
        with pytest.raises(ArgumentError):
            orvix32.parse_value_block(bad)


# Data-block condition C1C2C3: the keys that may read, the keys that may write.
RULES = [(0, "AB", "AB"), (1, "AB", ""), (2, "AB", ""), (3, "B", "B"), (4, "AB", "B"),
         (5, "B", ""), (6, "AB", "B"), (7, "", "")]


@pytest.mark.parametrize("cond,readers,writers", RULES)
def test_access_bits_match_the_card(reader, fresh_card, cond, readers, writers):
    m = reader.mifare
    m.load_key(2, FF6, "A")
    m.load_key(2, KEY_B, "B")
    m.authenticate(2, "A")  # trailer condition 3: key B serves, access bytes by B
    m.write(11, FF6 + orvix32.encode_access_bits(cond, 0, 0, 3) + b"\x69" + KEY_B)
    for key in "AB":
        fresh_card()
        m.authenticate(2, key)
        assert orvix32.decode_access_bits(m.read(11)) == (cond, 0, 0, 3)
        for op, allowed in ((lambda: m.read(8), readers), (lambda: m.write(8, b"w" * 16), writers)):
            if key in allowed:
                op()
                continue
            with pytest.raises(ReaderError, match="0x24"):
                op()
            fresh_card()
            m.authenticate(2, key)


def test_locked_sector(reader, fresh_card):
    locked = bytes.fromhex("FF0781")  # C3 does not match its inverted copy
    with pytest.raises(ArgumentError, match="sector locked"):
        orvix32.decode_access_bits(locked)
    reader.mifare.load_key(2, FF6)
    reader.mifare.authenticate(2)
    reader.mifare.write(11, FF6 + locked + b"\x69" + FF6)
    with pytest.raises(ReaderError, match="0x27"):
        reader.mifare.authenticate(2)
