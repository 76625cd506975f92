"""Each error class raised by a real condition, and the reader usable after it."""
import pytest

import orvix32
from orvix32 import ArgumentError, CardTypeError, LinkError, ReaderError, Result
from orvix32.testing import SimulatorError

LINK_FAULTS = [("silent", 102, "no answer to sync"), ("wrongready", 103, "answer to sync not 0x45"),
               ("noack", 108, "no acknowledge"), ("wrongack", 109, "acknowledge not 0x67"),
               ("nostatus", 111, "no status byte"), ("nolength", 112, "no length byte"),
               ("shortdata", 113, "response data short"), ("nochecksum", 114, "no checksum byte"),
               ("badchecksum", 115, "checksum mismatch")]


@pytest.mark.parametrize("kind,code,step", LINK_FAULTS)
def test_link_errors(sim, reader, kind, code, step):
    sim.fault(kind)
    with pytest.raises(LinkError) as e:
        reader.firmware_version()
    assert (e.value.code, e.value.step, str(e.value)) == (code, step,
                                                          f"DEVVER: link error {code} ({step})")
    assert reader.firmware_version() == b"TK61 2.1"


def test_reader_gone_and_back(sim, reader, fresh_card):
    sim.unplug()
    with pytest.raises(LinkError):
        reader.mifare.read(4)
    sim.replug()
    assert reader.mifare.request() == 4


@pytest.mark.parametrize("call,error,code,function", [
    (lambda s, r: (s.control("mifare remove"), r.mifare.request()), ReaderError, 0x20,
     "RFMifare_Request"),  # no card
    (lambda s, r: r.mifare.select(bytes(4)), ReaderError, 0x21, "RFMifare_Select"),  # wrong serial
    (lambda s, r: r.mifare.authenticate(1), ReaderError, 0x22, "RFMifare_Authentication"),
    (lambda s, r: r.mifare.load_key(1, b"short"), ArgumentError, None, ""),  # refused in Python
    (lambda s, r: r.memory_card.check_code(b"\1\2"), CardTypeError, 3, "CheckSecret"),  # no code
    (lambda s, r: (r.memory_card.power_on(), r.memory_card.verify()), CardTypeError, 19,
     "VerifyIC")])  # the card is a type 2
def test_card_and_argument_errors(sim, reader, fresh_card, call, error, code, function):
    reader.mifare.load_key(1, bytes(6))  # not the card's key
    sim.control("contact insert 2")
    reader.memory_card.select(1)
    with pytest.raises(error) as e:
        call(sim, reader)
    assert (e.value.code, e.value.function) == (code, function)


def test_nothing_to_link_to(monkeypatch, tmp_path, sim, reader):
    for port, code, text in (("COM10", Result.NO_PORT, "COM10: no such port"),
                             (9, Result.NO_PORT, "COM10: no such port"),
                             ("tcp://127.0.0.1:1", Result.CONNECTION_REFUSED,
                              "tcp://127.0.0.1:1: connection refused"),
                             (str(tmp_path / "none"), Result.NO_PORT, "none: no such port"),
                             (sim.path, Result.PORT_BUSY, "reader: port busy")):  # held below
        with pytest.raises(LinkError, match=f"^orvix_open: .*{text} \\({int(code)}\\)$") as e:
            orvix32.Reader(port)
        assert e.value.code is code
    assert reader.linked  # the other reader keeps its link
    for bad in (10, -1, True, "", "COM1\0", None, 1.5, b"COM1", "COM01", "COM\u00b2", "COM11",
                "tty0", "tcp://nowhere"):
        with pytest.raises(ArgumentError):
            orvix32.Reader(bad)
    with pytest.raises(SimulatorError, match="no cmd= filter"):
        sim.fault("silent", cmd=0xB9)
    monkeypatch.setenv("ORVIX32_READERSIM", str(tmp_path / "none"))
    monkeypatch.setenv("PATH", str(tmp_path))
    monkeypatch.setattr(orvix32._library, "TREE_BUILD", tmp_path)
    with pytest.raises(orvix32.LibraryNotFoundError, match=r"ORVIX32_READERSIM=.*none.*; PATH"):
        orvix32.testing.Simulator().start()
