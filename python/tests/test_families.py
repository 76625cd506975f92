"""APDUs, memory cards, attendance terminal and DES against the simulated reader."""
import datetime as dt

import pytest

import orvix32
from orvix32 import ArgumentError, Position, Record, StatusWordError


@pytest.mark.parametrize("control,slot,protocol", [
    ("contact insert cpu t0", 0, 0), ("contact insert cpu t1", 0, 1),
    ("sam insert 3 t0", 3, 0), ("sam insert 4 t1", 4, 1)])
def test_apdus(sim, reader, control, slot, protocol):
    sim.control(control)
    card = reader.cpu if slot == 0 else reader.sam(slot)
    assert card.reset()[0] == 0x3B and card.protocol == protocol
    challenge = card.apdu(bytes.fromhex("0084000008"))
    assert (len(challenge.data), challenge.sw, challenge.ok) == (8, 0x9000, True)
    for bad in (b"\x00\xa4\x00", bytes.fromhex("00A4000003") + b"\x3f",
                bytes(4) + b"\x54" + bytes(84)):
        with pytest.raises(ArgumentError):  # short, Lc too long for the data, Lc above 83
            card.apdu(bad)
    assert card.apdu(bytes.fromhex("00A40000023F0000"), check=True).sw == 0x9000  # with Le
    assert card.apdu(bytes.fromhex("00A40000029999")).sw == 0x6A82  # raises only when asked:
    with pytest.raises(StatusWordError) as e:
        card.apdu(bytes.fromhex("00A40000029999"), check=True)
    assert (e.value.sw, e.value.data) == (0x6A82, b"")


def test_memory_card_across_pages(sim, reader):
    card, data, start = reader.memory_card, bytes(i % 251 for i in range(600)), 300 * 264 - 10
    sim.control("contact rack")
    card.select(21)  # pages of 264 bytes
    card.power_on()
    assert card.write_pages(start, data) == data
    assert card.read_pages(start, 600) == data
    sim.control("contact insert 2 code=A1B2C3")
    card.select(2)
    card.power_on()
    card.check_code(bytes.fromhex("A1B2C3"))
    assert card.write(18, 0, 64, data[:130]) == data[:130]
    assert card.read(18, 0, 64, 130) == data[:130]


def test_attendance_records(sim, reader):
    sim.control("kq clear")
    for line in ("4660 26-12-7 8:30", "77 26-12-7 17:05", "5 26-12-8 9:00"):
        sim.control("kq record " + line)
    kq, day = reader.attendance, dt.date(2026, 12, 7)
    assert (kq.start_position(day), kq.end_position(day)) == (Position(True, 0), Position(True, 1))
    assert kq.current_position() == Position(True, 2)
    last = Record(5, dt.datetime(2026, 12, 8, 9, 0))
    assert kq.records(0, 31) == [Record(4660, dt.datetime(2026, 12, 7, 8, 30)),
                                 Record(77, dt.datetime(2026, 12, 7, 17, 5)), last]
    assert kq.records(2, 5) == [last]
    kq.set_time(dt.datetime(2027, 1, 2, 3, 4, 5))
    assert kq.time() - dt.datetime(2027, 1, 2, 3, 4, 5) < dt.timedelta(seconds=3)
    assert kq.pass_through(0x10, b"abc") == b"abc"


@pytest.mark.parametrize("key,plain,cipher", [
    ("133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"),
    ("0101010101010101", "8000000000000000", "95F8A5E5DD31D900"),
    ("0123456789ABCDEF", "4E6F77206973207468652074696D6520", "3FA40E8A984D48156A271787AB8883F9")])
def test_des(key, plain, cipher):
    k, p, c = bytes.fromhex(key), bytes.fromhex(plain), bytes.fromhex(cipher)
    assert (orvix32.des.encrypt(k, p), orvix32.des.decrypt(k, c)) == (c, p)
    with pytest.raises(ArgumentError):  # not a multiple of 8, or a short key
        orvix32.des.encrypt(k, p + b"\0")
    with pytest.raises(ArgumentError):
        orvix32.des.decrypt(k[:7], c)
