"""libifd-orvix under pcscd against readersim: the slots, the APDUs, the
storage-card commands, the tools and the faults."""
import json
import re
import socket
import subprocess
import threading

import pytest
from conftest import NAMES, ORVIX, SLOTS, Pcscd, call_ok, readers, wait_for
from smartcard.scard import SCARD_SHARE_EXCLUSIVE, SCARD_SHARE_SHARED

ATR_1K = "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A"
ATR_T0 = "3B 16 94 53 49 4D 43 50 55"  # historical bytes "SIMCPU"
AID = "00 A4 04 00 08 F0 4F 52 56 49 58 33 32"
KEY_FF = "FF 82 00 00 06 FF FF FF FF FF FF"


def x(data):
    return " ".join(f"{b:02X}" for b in data)


def send(conn, apdu):  # APDU and answer as hexadecimal text
    data, sw1, sw2 = conn.transmit([int(b, 16) for b in apdu.split()])
    return x(data), f"{sw1:02X}{sw2:02X}"


def test_pcsc_scan_lists_every_slot_and_the_contactless_atr(pcscd):
    out = subprocess.run(["pcsc_scan", "-n", "-t", "2"], capture_output=True, text=True,
                         timeout=30).stdout
    for slot in SLOTS:
        assert re.search(rf"^\d: {NAMES[slot]} \d\d 00$", out, re.M), slot
    assert ATR_1K in out and ATR_T0 in out


def test_cards_inserted_and_removed_show_and_go(sim, pcscd):
    scan = subprocess.Popen(["stdbuf", "-oL", "pcsc_scan", "-n"], stdout=subprocess.PIPE,
                            text=True, bufsize=1)
    lines = []
    threading.Thread(target=lambda: lines.extend(scan.stdout), daemon=True).start()
    try:
        def state_of(name, word):  # in the last report on the reader
            text = "".join(lines)
            at = text.rfind(f": {name} ")
            end = text.find("Card state", at)
            return at >= 0 and end > 0 and word in text[end:text.find("\n", end)]
        for slot, gone, back in [("contactless", "mifare remove", "mifare insert classic 0A0B0C0D"),
                                 ("cpu", "contact remove", "contact insert cpu t1")]:
            name = NAMES[slot]
            wait_for(lambda: state_of(name, "Card inserted"), f"{name} present")
            sim.do(gone)
            wait_for(lambda: state_of(name, "Card removed"), f"{name} removed", 3)
            sim.do(back)
            wait_for(lambda: state_of(name, "Card inserted"), f"{name} back", 3)
    finally:
        scan.terminate()
        scan.wait()


# Slot, readersim set-up, the protocol of the card there, APDU, expected
# data (None: any 8 bytes), status word.
CONTACT = [
    ("cpu", "contact insert cpu t0", 0, AID, "", "9000"),
    ("cpu", "contact insert cpu t1", 1, AID, "", "9000"),
    ("cpu", "contact insert cpu t1", 1, "00 A4 04 00 02 F0 4F", "", "6A82"),
    ("sam1", None, 0, "00 84 00 00 08", None, "9000"),
    ("sam2", None, 1, "00 84 00 00 08", None, "9000"),
    ("sam3", "sam insert 3 t1", 1, "00 B0 00 00 04", "", "6986"),
    ("sam4", "sam insert 4 t0", 0, "00 CA 00 00 00", "", "6D00"),
    ("sam1", None, 0, "80 84 00 00 08", "", "6E00"),
]


@pytest.mark.parametrize("slot,setup,t1,apdu,data,sw", CONTACT)
def test_apdus_to_the_cpu_card_and_the_sams(sim, pcscd, connect, slot, setup, t1, apdu, data, sw):
    if setup:
        sim.do(setup)
    # The card answers to reset 3B 16 … (T=0) or 3B 86 … (T=1).
    c = wait_for(lambda: connected(connect, slot, 0x86 if t1 else 0x16), f"the card in {slot}")
    got, status = send(c, apdu)
    assert status == sw
    assert len(got.split()) == 8 if data is None else got == data


def connected(connect, slot, atr):
    return call_ok(lambda: (c := connect(slot, wait=0)).getATR()[1] == atr and c, None)


def test_slots_of_both_protocols_in_turn(sim, pcscd, connect):
    # SAM 1 answers T=0, SAM 2 T=1; the reader frames by the last reset, so a
    # turn to the other protocol resets a card that has had no APDU since its
    # reset: here the unused CPU card (T=0) and SAM 3 (T=1).
    sim.do("sam insert 3 t1")
    wait_for(lambda: connected(connect, "sam3", 0x86), "the card in SAM 3")
    one, two = connect("sam1"), connect("sam2")
    for conn in (one, two, one, two):
        assert send(conn, "00 A4 00 00 02 00 02") == ("", "9000")
        assert send(conn, "00 B0 00 C4 08") == ("C4 C5 C6 C7", "6282")
    # No T=0 card left to reset: SAM 1's APDU fails rather than end SAM 2's
    # session, which goes on.
    sim.do("contact remove")
    with pytest.raises(Exception):
        send(one, "00 B0 00 C4 04")
    assert send(two, "00 B0 00 C4 04") == ("C4 C5 C6 C7", "9000")


def orvix(sim, *args):
    out = subprocess.run([str(ORVIX), "--port", sim.path, "--json", "mifare", *args],
                         capture_output=True, text=True, timeout=30)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def authenticate(conn, block, key_type="60"):
    return send(conn, f"FF 86 00 00 05 01 00 {block:02X} {key_type} 00")


def test_mifare_through_pcsc_and_orvix_agree(sim, pcscd, connect):
    c = connect("contactless")
    uid, sw = send(c, "FF CA 00 00 00")
    assert sw == "9000" and uid == "12 34 56 78"
    assert send(c, KEY_FF) == ("", "9000")
    assert authenticate(c, 4) == ("", "9000")
    written = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"
    assert send(c, "FF D6 00 05 10 " + written) == ("", "9000")
    c.disconnect()
    pcscd.stop()  # the port is pcscd's while it runs
    assert orvix(sim, "read", "0")["data"].replace(" ", "")[:8] == uid.replace(" ", "")
    assert orvix(sim, "read", "5")["data"].replace(" ", "").upper() == written.replace(" ", "")
    orvix(sim, "write", "6", "A5" * 16)
    pcscd.start()
    wait_for(lambda: len(readers()) == len(SLOTS), "the readers again")
    c = connect("contactless")
    send(c, KEY_FF)
    assert authenticate(c, 6) == ("", "9000")
    assert send(c, "FF B0 00 06 10") == (x([0xA5] * 16), "9000")


# APDU (after loading key FF… as key 0 and authenticating sector 1 with it
# when auth is set), expected status word.
STORAGE = [
    (False, "FF B0 00 04 10", "6982"),                     # not authenticated
    (True, "FF B0 00 08 10", "6982"),                      # another sector
    (True, "FF D6 00 00 10 " + "00 " * 16, "6985"),         # block 0: never written
    (True, "FF D6 00 07 10 " + "FF " * 16, "6985"),         # a trailer, bad access bits
    (True, "FF B0 00 40 10", "6B00"),                      # past the last block
    (True, "FF B0 00 04 05", "6700"),
    (True, "FF D6 00 04 08 " + "00 " * 8, "6700"),
    (True, "FF 82 20 00 06 FF FF FF FF FF FF", "6A81"),    # a non-volatile key
    (True, "FF 82 00 20 06 FF FF FF FF FF FF", "6B00"),    # no key number 32
    (True, "FF CA 02 00 00", "6A81"),
    (True, "FF 44 00 00 00", "6D00"),
    (True, "00 B0 00 04 10", "6E00"),
    (True, "FF 86 00 00 05 01 00 04 62 00", "6B00"),       # key type 62
    (True, "FF 86 00 00 05 01 00 04 60 07", "6300"),       # key 7 not loaded
]


@pytest.mark.parametrize("auth,apdu,sw", STORAGE)
def test_storage_card_status_words(pcscd, connect, auth, apdu, sw):
    c = connect("contactless")
    if auth:
        send(c, KEY_FF)
        assert authenticate(c, 4) == ("", "9000")
    assert send(c, apdu)[1] == sw


def test_wrong_key_then_right_key_and_block_0_refused(pcscd, connect):
    c = connect("contactless")
    assert send(c, "FF 82 00 01 06 A0 A1 A2 A3 A4 A5") == ("", "9000")
    assert send(c, "FF 86 00 00 05 01 00 00 60 01") == ("", "6300")
    send(c, KEY_FF)
    assert authenticate(c, 0) == ("", "9000")  # the card answers again after a refusal
    assert send(c, "FF D6 00 00 10 " + "00 " * 16) == ("", "6985")
    assert send(c, "FF B0 00 00 10")[0].startswith("12 34 56 78")


def test_opensc_tool_lists_the_readers_and_the_atr(pcscd):
    listed = subprocess.run(["opensc-tool", "-l"], capture_output=True, text=True,
                            timeout=30).stdout
    for slot in SLOTS:
        assert NAMES[slot] in listed
    index = next(i for i, r in enumerate(readers()) if r.startswith(NAMES["contactless"]))
    atr = subprocess.run(["opensc-tool", "-r", str(index), "-a"], capture_output=True, text=True,
                         timeout=30).stdout
    assert ATR_1K.replace(" ", ":").lower() in atr.lower().replace(" ", ":")


@pytest.mark.parametrize("fault,heal", [("fault unplug", "replug"),
                                        ("fault silent count=-1", "faults clear")])
def test_a_reader_failing_mid_apdu(sim, pcscd, connect, fault, heal):
    c = connect("sam1")
    sim.do(fault)
    with pytest.raises(Exception):
        send(c, "00 84 00 00 08")
    assert pcscd.alive()
    sim.do(heal)

    works = lambda: call_ok(lambda: send(connect("sam1", wait=0), "00 84 00 00 08")[1] == "9000")
    wait_for(works, "a new connection that works", 15)


def test_a_reader_behind_ser2net_killed_and_restarted(sim, tmp_path, connect):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    (tmp_path / "ser2net.yaml").write_text(
        f"connection: &r\n  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
        f"  connector: serialdev,{sim.path},57600n81,local\n")
    server = lambda: subprocess.Popen(["ser2net", "-n", "-c", str(tmp_path / "ser2net.yaml"),
                                       "-P", str(tmp_path / "pid")], stderr=subprocess.DEVNULL)
    ser2net = server()
    d = Pcscd(tmp_path, [(NAMES["sam1"], f"sam1:rfc2217://127.0.0.1:{port}")])
    works = lambda: call_ok(lambda: send(connect("sam1", wait=0), "00 84 00 00 08")[1] == "9000")
    try:
        wait_for(works, "SAM 1 through ser2net", 15)
        c = connect("sam1")
        ser2net.terminate()
        ser2net.wait()
        with pytest.raises(Exception):
            send(c, "00 84 00 00 08")
        assert d.alive()
        ser2net = server()
        wait_for(works, "SAM 1 through the restarted ser2net", 15)
    finally:
        ser2net.terminate()
        d.stop()


def test_a_card_leaving_mid_session(sim, pcscd, connect):
    c = connect("contactless")
    send(c, KEY_FF)
    assert authenticate(c, 4) == ("", "9000")
    sim.do("mifare remove")
    with pytest.raises(Exception):
        send(c, "FF B0 00 04 10")
    wait_for(lambda: not connected(connect, "contactless", 0x8F), "the card gone")
    sim.do("mifare insert classic 0A0B0C0D")
    c = wait_for(lambda: connected(connect, "contactless", 0x8F), "the next card")
    assert send(c, "FF CA 00 00 00") == ("0A 0B 0C 0D", "9000")


def test_two_clients_on_two_slots_200_apdus_each(pcscd, connect):
    clients = [(connect("cpu", SCARD_SHARE_EXCLUSIVE), "00 B0 00 10 04", "10 11 12 13"),
               (connect("sam1", SCARD_SHARE_SHARED), "00 B0 00 20 02", "20 21")]
    results = []

    def run(conn, read, want):  # every answer right, or no result at all
        got = [send(conn, "00 A4 00 00 02 00 02")] + [send(conn, read) for _ in range(200)]
        results.append(got == [("", "9000")] + [(want, "9000")] * 200)
    threads = [threading.Thread(target=run, args=c) for c in clients]
    [t.start() for t in threads]
    [t.join(120) for t in threads]
    assert results == [True, True]


def test_one_entry_for_the_whole_reader(sim, tmp_path):
    d = Pcscd(tmp_path, [("ORVIX32", sim.path)])
    try:
        wait_for(lambda: len(readers()) == 6, "six slots of one reader")
        assert readers() == [f"ORVIX32 00 {i:02X}" for i in range(6)]
    finally:
        d.stop()
