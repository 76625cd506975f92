"""libifd-orvix under pcscd against readersim: the slots, the APDUs, the
storage-card commands, the tools and the faults."""
import json
import subprocess
import threading

import pytest
from conftest import NAMES, ORVIX, SLOTS, Pcscd, reader_named, readers, wait_for
from smartcard.scard import SCARD_SHARE_EXCLUSIVE, SCARD_SHARE_SHARED

ATR_1K = "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A"
ATR_T0 = "3B 16 94 53 49 4D 43 50 55"  # historical bytes "SIMCPU"
AID = "00 A4 04 00 08 F0 4F 52 56 49 58 33 32"
KEY_FF = "FF 82 00 00 06 FF FF FF FF FF FF"


def h(text):
    return [int(b, 16) for b in text.split()]


def x(data):
    return " ".join(f"{b:02X}" for b in data)


def send(conn, apdu):
    data, sw1, sw2 = conn.transmit(h(apdu))
    return x(data), f"{sw1:02X}{sw2:02X}"


def scan_output(seconds):
    return subprocess.run(["pcsc_scan", "-n", "-t", str(seconds)], capture_output=True,
                          text=True, timeout=seconds + 20).stdout


def test_pcsc_scan_lists_every_slot_and_the_contactless_atr(pcscd):
    out = scan_output(2)
    for slot in SLOTS:
        assert f"{NAMES[slot]} 00 00" in out, slot
    assert ATR_1K in out and ATR_T0 in out


def test_cards_inserted_and_removed_show_and_go(sim, pcscd):
    scan = subprocess.Popen(["pcsc_scan", "-n"], stdout=subprocess.PIPE, text=True, bufsize=1)
    lines = []
    threading.Thread(target=lambda: lines.extend(scan.stdout), daemon=True).start()
    try:
        def state_of(name, word):
            text = "".join(lines)
            at = text.rfind(f"Reader {name} 00 00")  # its last report
            return at >= 0 and word in text[at:text.find("\n", text.find("Event number", at))]
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


# Slot, readersim set-up, APDU, expected data (None: any 8 bytes), status word.
CONTACT = [
    ("cpu", "contact insert cpu t0", AID, "", "9000"),
    ("cpu", "contact insert cpu t1", AID, "", "9000"),
    ("cpu", "contact insert cpu t1", "00 A4 04 00 02 F0 4F", "", "6A82"),
    ("sam1", None, "00 84 00 00 08", None, "9000"),
    ("sam2", None, "00 84 00 00 08", None, "9000"),
    ("sam3", "sam insert 3 t1", "00 B0 00 00 04", "", "6986"),
    ("sam4", "sam insert 4 t0", "00 CA 00 00 00", "", "6D00"),
    ("sam1", None, "80 84 00 00 08", "", "6E00"),
]


@pytest.mark.parametrize("slot,setup,apdu,data,sw", CONTACT)
def test_apdus_to_the_cpu_card_and_the_sams(sim, pcscd, connect, slot, setup, apdu, data, sw):
    if setup:
        sim.do(setup)
        wait_for(lambda: not pcscd_sees_no_card(slot), f"a card in {slot}")
    c = connect(slot)
    got, status = send(c, apdu)
    assert status == sw
    assert len(got.split()) == 8 if data is None else got == data


def pcscd_sees_no_card(slot):
    from smartcard.System import readers as listed
    r = next(r for r in listed() if str(r).startswith(NAMES[slot]))
    try:
        r.createConnection().connect()
        return False
    except Exception:
        return True


def test_a_file_read_after_select_on_each_protocol_in_turn(sim, pcscd, connect):
    # SAM 1 answers T=0 and SAM 2 T=1: the reader frames by the last reset.
    one, two = connect("sam1"), connect("sam2")
    for conn in (one, two, one, two):
        assert send(conn, "00 A4 00 00 02 00 02") == ("", "9000")
        assert send(conn, "00 B0 00 C4 08") == ("C4 C5 C6 C7", "6282")


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
    (True, "FF D6 00 00 10 " + "00 " * 16, "6982"),         # block 0, sector 0 not open
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

    def works():
        try:
            return send(connect("sam1"), "00 84 00 00 08")[1] == "9000"
        except Exception:
            return False
    wait_for(works, "a new connection that works", 15)


def test_two_clients_on_two_slots_200_apdus_each(pcscd, connect):
    clients = [(connect("cpu", SCARD_SHARE_EXCLUSIVE), "00 B0 00 10 04", "10 11 12 13"),
               (connect("sam2", SCARD_SHARE_SHARED), "00 B0 00 20 02", "20 21")]
    failures = []

    def run(conn, read, want):
        assert send(conn, "00 A4 00 00 02 00 02") == ("", "9000")
        for _ in range(200):
            got = send(conn, read)
            if got != (want, "9000"):
                failures.append(got)
    threads = [threading.Thread(target=run, args=c) for c in clients]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not failures


def test_one_entry_for_the_whole_reader(sim, tmp_path):
    d = Pcscd(tmp_path, [("ORVIX32", sim.path)])
    try:
        wait_for(lambda: len(readers()) == 6, "six slots of one reader")
        assert readers() == [f"ORVIX32 00 {i:02X}" for i in range(6)]
    finally:
        d.stop()
