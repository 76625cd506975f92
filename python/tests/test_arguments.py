"""Every argument checked before the reader sees a byte, errors that pickle,
and value commands whose lost reply leaves the card unknown."""
import array
import datetime
import pickle

import pytest

import orvix32
from orvix32 import (ArgumentError, ArgumentTypeError, CardTypeError, LinkError, ReaderError,
                     Result, StatusWordError)
from orvix32.testing import SimulatorError

S, K6, B4, B16, SERIAL = bytes(4), bytes(6), bytes(4), bytes(16), bytes.fromhex("12345678")
T, V = ArgumentTypeError, ArgumentError
BAD = [
    (lambda r: r.mifare.write(260, B16), V), (lambda r: r.mifare.write(263, B16), V),
    (lambda r: r.mifare.read(2**64 + 5), V), (lambda r: r.mifare.read(-1), V),
    (lambda r: r.mifare.read(True), T), (lambda r: r.mifare.read("5"), T),
    (lambda r: r.mifare.read(5.0), T), (lambda r: r.mifare.write(4, 16), T),
    (lambda r: r.mifare.write(4, "x" * 16), T), (lambda r: r.mifare.write(4, B16[:15]), V),
    (lambda r: r.mifare.write(4, memoryview(array.array("i", [0] * 4))), T),
    (lambda r: r.mifare.increment(8, 2**32 + 5), V),
    (lambda r: r.mifare.decrement(8, -(2**31) - 1), V),
    (lambda r: r.mifare.increment_value(8, S, 2**31), V),
    (lambda r: r.mifare.decrement_value(8, S, True), T),
    (lambda r: r.mifare.write_value(64, S, 1), V),
    (lambda r: r.mifare.read_value(4, 0x12345678), T), (lambda r: r.mifare.select("1234"), T),
    (lambda r: r.mifare.load_key(16, K6), V), (lambda r: r.mifare.load_key(1, K6, True), T),
    (lambda r: r.mifare.load_key(1, K6, "C"), V), (lambda r: r.mifare.transfer_key(1, 6), T),
    (lambda r: r.mifare.auth_mode(2), V), (lambda r: r.mifare.authenticate(1, block=64), V),
    (lambda r: r.mifare.write_key(1, S, K6, last=256), V),
    (lambda r: r.mifare.request(all=2), V), (lambda r: r.signal(8), V),
    (lambda r: r.signal(1, 256), V), (lambda r: r.sam(True), T),
    (lambda r: r.rf5550.read(256), V), (lambda r: r.rf5550.write(-1, B4), V),
    (lambda r: r.rf5550.write(1, B4, option=-1), V), (lambda r: r.rf5550.init([0] * 9), V),
    (lambda r: r.rf5550.init([0] * 9 + ["1"]), T), (lambda r: r.rf5550.wake(1234), T),
    (lambda r: r.memory_card.read(18, 0, 0, 2**31 - 1), V),  # refused before allocating
    (lambda r: r.memory_card.read(18, 255, 255, 2), V),  # past position 65535
    (lambda r: r.memory_card.read(256, 0, 0, 1), V),
    (lambda r: r.memory_card.write(18, 0, 0, 3), T),
    (lambda r: r.memory_card.read_pages(0, 2**31 - 1), V),
    (lambda r: r.memory_card.write_pages(0, 3), T),
    (lambda r: r.memory_card.erase_pages(-1, 1), V),
    (lambda r: r.memory_card.check_code("12"), T),
    (lambda r: r.memory_card.change_code(b"12", 255), V),
    (lambda r: r.memory_card.check_erase_key(0, bytes(5)), V),
    (lambda r: r.memory_card.select(300), V), (lambda r: r.at1608.read(9, 0, 1), V),
    (lambda r: r.at1608.read(0, 0, 161), V), (lambda r: r.at1608.write(0, 256, b"x"), V),
    (lambda r: r.at1608.write(0, 0, bytes(161)), V),
    (lambda r: r.at1608.verify_password(16, bytes(3)), V),
    (lambda r: r.at1608.authenticate("12345678"), T), (lambda r: r.cpu.apdu(5), T),
    (lambda r: r.cpu.apdu(bytes(4) + b"\x54" + bytes(84)), V),  # Lc 84
    (lambda r: r.attendance.records(65536), V), (lambda r: r.attendance.display("é"), V),
    (lambda r: r.attendance.pass_through(256), V),
    (lambda r: r.attendance.set_time(datetime.date(2020, 1, 1)), T),
    (lambda r: r.attendance.start_position("2020-01-01"), T),
    (lambda r: r.attendance.download_password(1, 1234), T),
    (lambda r: orvix32.des.encrypt(bytes(8), "abcdefgh"), T),
    (lambda r: orvix32.des.decrypt(8, bytes(8)), T),
    (lambda r: orvix32.value_block(True), T),
]


def exchanges(sim):
    return int(sim.control("status").split()[0].removeprefix("exchanges="))


@pytest.mark.parametrize("call,error", BAD)
def test_bad_arguments_send_nothing(sim, reader, call, error):
    before = exchanges(sim)
    with pytest.raises(error) as e:
        call(reader)
    assert isinstance(e.value, orvix32.Error) and e.value.code is None
    assert exchanges(sim) == before


def test_bytes_like_data(sim, reader, fresh_card):
    m, data = reader.mifare, bytes(range(16))
    m.load_key(1, memoryview(b"\xff" * 6))
    m.authenticate(1)
    for given in (bytearray(data), memoryview(data), memoryview(bytearray(data))[0:16]):
        m.write(5, bytes(16))
        m.write(5, given)
        assert m.read(5) == data
    key = bytes(range(8))
    assert (orvix32.des.encrypt(bytearray(key), memoryview(data))
            == orvix32.des.encrypt(key, data))


ERRORS = [StatusWordError("ProCpuCard: status word 6A82", 0x6A82, b"\1", "ProCpuCard"),
          LinkError("DEVVER: link error 108", Result.NO_ACKNOWLEDGE, "DEVVER"),
          ReaderError("RFMifare_Read: reader status 0x23", 0x23, "RFMifare_Read"),
          CardTypeError("VerifyIC", Result.NOT_SELECTED_CARD_TYPE, "VerifyIC"),
          ArgumentError("a"), ArgumentTypeError("t"), orvix32.LibraryNotFoundError("n"),
          SimulatorError("s")]


@pytest.mark.parametrize("error", ERRORS, ids=lambda e: type(e).__name__)
def test_errors_pickle(error):
    back = pickle.loads(pickle.dumps(error))
    assert (type(back), str(back), back.__dict__) == (type(error), str(error), error.__dict__)


NOTE = "; the card may have been changed; read the value back"


@pytest.mark.parametrize("call,cmd,note", [
    (lambda m: m.increment(4, 1), 0xBB, NOTE), (lambda m: m.decrement(4, 1), 0xBC, NOTE),
    (lambda m: m.increment_value(4, SERIAL, 1), 0xB1, NOTE),
    (lambda m: m.decrement_value(4, SERIAL, 1), 0xB2, NOTE),
    (lambda m: m.write_value(4, SERIAL, 1), 0xB0, NOTE), (lambda m: m.read(4), 0xB9, "")])
def test_lost_reply_of_a_value_command(sim, reader, fresh_card, call, cmd, note):
    m = reader.mifare
    m.load_key(1, b"\xff" * 6)
    m.authenticate(1)
    m.write(4, orvix32.value_block(100, 4))
    sim.fault("nostatus", cmd=cmd, count="all")
    with pytest.raises(LinkError) as e:
        call(m)
    sim.control("faults clear")
    assert (e.value.code, e.value.code.name) == (111, "NO_STATUS_BYTE")
    assert str(e.value) == f"{e.value.function}: link error 111 (no status byte){note}"
    assert e.value.card_may_have_changed == bool(note)
    sim.control("mifare remove")
    with pytest.raises(ReaderError) as e:
        m.request()
    assert (str(e.value), type(e.value.code)) == (
        f"RFMifare_Request: reader status 0x20 ({orvix32._library.status_text(1, 0x20)})", int)
