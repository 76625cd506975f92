"""orvix end to end: the built tool against readersim over a pty."""
import fcntl
import json
import os
import pathlib
import re
import subprocess

import pytest

ORVIX, SIM = os.environ["ORVIX"], os.environ["READERSIM"]
DATA = pathlib.Path(__file__).parent / "data"
# An output path of this run alone (never a folder someone has there).
OUT = f"/tmp/orvix-test-{os.getpid()}"
NOWHERE = {f"ORVIX32_COM{i}": f"/nonexistent/orvix-test-com{i}" for i in range(1, 11)}


class Sim:
    def __init__(self, *args):
        self.p = subprocess.Popen([SIM, "--control", *args], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        self.path = self.p.stdout.readline().strip()

    def __call__(self, command):
        self.p.stdin.write(command + "\n")
        self.p.stdin.flush()
        return self.p.stdout.readline().strip()

    def image(self, tmp):
        self(f"mifare save {tmp}/saved.mfd")
        return (tmp / "saved.mfd").read_bytes()


@pytest.fixture
def sims():
    started = []
    yield lambda *args: started.append(Sim(*args)) or started[-1]
    for s in started:
        s.p.terminate()
        s.p.wait()


@pytest.fixture
def sim(sims):
    return sims()


def orvix(*args, sim=None, env=None, stdin=None, program=ORVIX):
    e = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
    e.update(NOWHERE, **({"ORVIX32_COM1": sim.path} if sim else {}), **(env or {}))
    return subprocess.run([program, *map(str, args)], env=e, input=stdin, capture_output=True,
                          text=True, errors="replace", timeout=120)


def make_card(sim, tmp):
    """Blocks b filled with byte b; sector 1 keys A0…/B0… with key B unreadable
    (trailer 011); sector 2 keys not among the well-known ones."""
    img = bytearray(sim.image(tmp))
    for b in range(1, 64):
        if b % 4 != 3:
            img[b * 16:b * 16 + 16] = bytes([b] * 16)
    img[112:128] = bytes.fromhex("A0A1A2A3A4A5 7F0788 69 B0B1B2B3B4B5")
    img[176:192] = bytes.fromhex("112233445566 FF0780 69 665544332211")
    (tmp / "card.mfd").write_bytes(img)
    assert sim("mifare remove").startswith("removed")
    assert sim(f"mifare load {tmp}/card.mfd").startswith("loaded")
    return bytes(img)


def blocks(fmt, path):
    """The 64 blocks of a dump file as hex text, None where not read."""
    if fmt in ("mfd", "bin"):
        raw = path.read_bytes()
        return [raw[i:i + 16].hex().upper() for i in range(0, 1024, 16)]
    text = path.read_text()
    if fmt == "json":
        return [json.loads(text)["blocks"][str(i)] for i in range(64)]
    lines = [l for l in text.splitlines() if not l.startswith("+Sector")]
    return [None if l == "-" * 32 else l for l in lines]


@pytest.mark.parametrize("fmt", ["mfd", "bin", "eml", "json", "mct"])
def test_dump_with_keys_is_the_simulators_image(sim, tmp_path, fmt):
    img = make_card(sim, tmp_path)
    out = tmp_path / f"dump.{fmt}"
    r = orvix("mifare", "dump", "-o", out, "--keys", DATA / "keys.dic", "--keys-out",
              tmp_path / "k.bin", sim=sim)
    assert (r.returncode, r.stderr) == (0, "")  # no progress bar off a terminal
    assert r.stdout == "card 12345678: 16 of 16 sectors read, 32 of 32 keys found, " \
                       f"written to {out}\n"
    assert sim.image(tmp_path) == img and blocks(fmt, out) == blocks("mfd", tmp_path / "saved.mfd")
    keys = (tmp_path / "k.bin").read_bytes()
    assert (keys[12:18].hex(), keys[96 + 12:96 + 18].hex()) == ("112233445566", "665544332211")


@pytest.mark.parametrize("fmt, args, code, unread", [
    # a dump with blocks not read is written only when asked for, in a format that marks them
    ("mfd", [], 3, None), ("json", [], 3, None),
    ("mfd", ["--partial"], 1, None), ("eml", ["--partial"], 1, None),
    ("json", ["--partial"], 0, [None] * 4), ("mct", ["--partial"], 0, [None] * 4)])
def test_dump_reports_sectors_no_key_opens(sim, tmp_path, fmt, args, code, unread):
    make_card(sim, tmp_path)
    out = tmp_path / f"dump.{fmt}"
    out.write_bytes(b"old")
    r = orvix("mifare", "dump", "-o", out, *args, sim=sim)
    assert r.returncode == code, r.stderr
    if code == 1:
        assert "cannot mark the blocks not read; a partial dump is written as json or mct" in r.stderr
    if code == 3:
        assert r.stderr == f"orvix: blocks not read: 8-11; the dump is not whole (a partial dump " \
                           f"is written only when asked for); {out} not written\n"
    if code:
        assert out.read_bytes() == b"old" and sim("status").startswith("exchanges=0 ") == (code == 1)
        return
    assert r.stdout.startswith("blocks not read: 8 9 10 11\ncard 12345678: 15 of 16 sectors read, "
                               "30 of 32 keys found")
    got = blocks(fmt, out)
    assert got[8:12] == unread and got[7] == "A0A1A2A3A4A57F078869B0B1B2B3B4B5"


def test_dump_goes_on_after_a_sector_whose_key_search_failed(sims, tmp_path):
    sim = sims("--fault", "status cmd=B8 status=32 skip=3")  # "no card" at sector 3's search
    (tmp_path / "k.dic").write_text("# clé du site, écrite à la main\nFFFFFFFFFFFF\n")
    r = orvix("mifare", "dump", "-o", tmp_path / "d.json", "--partial", "--keys",
              tmp_path / "k.dic", sim=sim)
    assert (r.returncode, r.stdout.splitlines()[:2]) == (0, [
        "not read: authenticate sector 3 with key A: result 32 (reader status 0x20: no card)",
        "blocks not read: 12 13 14 15"])


def wait_for(predicate, what, tries=2000):
    """Polls something observable (a file, a simulator's answer) until it holds."""
    import select
    for _ in range(tries):
        if predicate():
            return
        select.select([], [], [], 0.005)  # a short pause between polls, not a synchronisation
    raise AssertionError(f"never saw {what}")


SECRET_B = "6F0699" + "00" + "0000000000BB"  # block 4 read by key B only, key B unknown


@pytest.mark.parametrize("case, at, code, message", [
    ("ctrl-c", 1, 130, "interrupted at block 2; blocks read: 0-1; "),
    ("ctrl-c", 17, 130, "interrupted at block 18; blocks read: 0-17; "),
    ("ctrl-c", 63, 130, "interrupted after block 63; blocks read: 0-63; "),
    ("remove", 21, 3, "card 12345678 left the field; blocks read: 0-20; "),
    ("swap", 21, 3, "another card (87654321) answered in place of card 12345678; blocks read: 0-20; "),
    ("status", 5, 3, "blocks not read: 5-6; the dump is not whole"),
    ("secret B", 4, 3, "blocks not read: 4; the dump is not whole"),
    ("ulimit", None, -25, ""),  # SIGXFSZ: the file size limit stops the write
])
def test_dump_interrupted_leaves_the_old_file(sims, tmp_path, case, at, code, message):
    sim = sims(*(["--fault", "status cmd=B9 status=36 skip=5 count=2"] if case == "status" else []))
    if case == "secret B":
        img = bytearray(sim.image(tmp_path))
        img[16 * 7:16 * 8] = bytes.fromhex("FFFFFFFFFFFF" + SECRET_B)
        (tmp_path / "c.mfd").write_bytes(img)
        sim("mifare remove")
        sim(f"mifare load {tmp_path}/c.mfd")
    if case in ("ctrl-c", "remove", "swap"):  # the read of block `at` waits a second
        sim(f"fault delay ms=1000 cmd=B9 skip={at}")
    old = tmp_path / "good.json"
    old.write_bytes(b'{"kept": true}\n')
    trace = tmp_path / "trace"
    e = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
    e.update(NOWHERE, ORVIX32_COM1=sim.path)
    cmd = [ORVIX, "--trace", str(trace), "mifare", "dump", "-o", str(old)]
    if case == "ulimit":
        cmd = ["bash", "-c", 'ulimit -f 1; exec "$@"', "-", *cmd]
    p = subprocess.Popen(cmd, env=e, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if at is not None and case in ("ctrl-c", "remove", "swap"):
        # The delayed read of block `at` has reached the simulator: its fault is taken.
        wait_for(lambda: sim("faults").startswith("0 fault"), f"the read of block {at} under way")
        if case == "ctrl-c":
            p.send_signal(2)
        else:
            sim("mifare remove")
            if case == "swap":
                sim("mifare insert classic 87654321")
    out, err = p.communicate(timeout=60)
    assert p.returncode == code and message in err, err
    assert err == "" or err.endswith(f"; {old} not written\n")
    assert old.read_bytes() == b'{"kept": true}\n'
    assert [f.name for f in tmp_path.iterdir() if f.name.startswith(".")] == []


@pytest.mark.parametrize("fmt", ["json", "mct"])
def test_partial_dump_round_trips_and_restores_only_what_it_read(sims, tmp_path, fmt):
    sim = sims("--fault", "status cmd=B9 status=36 skip=5 count=2")
    dump = tmp_path / f"d.{fmt}"
    r = orvix("mifare", "dump", "-o", dump, "--partial", sim=sim)
    assert r.returncode == 0 and "blocks not read: 5 6\n" in r.stdout, r.stderr
    got = blocks(fmt, dump)
    assert got[5:7] == [None, None] and got[4] == "00" * 16
    assert orvix("mifare", "write", 5, "55" * 16, sim=sim).returncode == 0
    r = orvix("mifare", "restore", dump, sim=sim)
    assert r.returncode == 0 and "left as they were: 5 6\n" in r.stdout, r.stdout
    assert sim.image(tmp_path)[80:96] == b"\x55" * 16  # block 5 as it was, not zeros


@pytest.mark.parametrize("name, block6", [
    ("hand.eml", "00" * 16), ("hand.json", "66" * 16), ("hand.mct", "66" * 16)])
def test_restore_reads_hand_written_files(sim, tmp_path, name, block6):
    assert orvix("mifare", "write", 6, "66" * 16, sim=sim).returncode == 0
    r = orvix("mifare", "restore", DATA / name, sim=sim)
    assert r.returncode == 0, r.stderr
    img = sim.image(tmp_path)
    assert (img[16:32].hex(), img[80:96].hex(), img[96:112].hex()) == (
        "11" * 16, "55" * 8 + "aa" * 8, block6)


def test_restore_into_a_second_card_with_trailers(sim, tmp_path):
    img = make_card(sim, tmp_path)
    dump = tmp_path / "d.mfd"
    assert orvix("mifare", "dump", "-o", dump, "--keys", DATA / "keys.dic", sim=sim).returncode == 0
    sim("mifare remove")
    assert sim("mifare insert classic AABBCCDD").startswith("inserted")
    r = orvix("mifare", "restore", dump, "--with-trailers", sim=sim)
    assert (r.returncode, r.stdout) == (0, f"63 blocks written and read back from {dump}\n")
    copy = sim.image(tmp_path)
    assert copy[:4] == bytes.fromhex("AABBCCDD") and copy[16:] == img[16:]


LOCKING = "778788"  # blocks 000, trailer 111


@pytest.mark.parametrize("fmt, access, args, code, message", [
    ("json", "FF0781", [], 4, "sector 1 trailer (access bytes FF 07 81): an inverted copy does "
                              "not match, the card would lock the sector; never written"),
    ("json", "FF0781", ["--force"], 4, "an inverted copy does not match"),
    ("bin", LOCKING, [], 4, "the keys and access bits could never be changed again; not written"),
    ("bin", LOCKING, ["--force"], 0, "\n"),
    # A raw file cannot say "not read": such a trailer marks a sector not read.
    ("bin", "FF0781", [], 0, "blocks not in the file, left as they were: 4 5 6 7\n"),
])
def test_restore_refuses_bad_trailers_before_writing(sim, tmp_path, fmt, access, args, code,
                                                     message):
    img = bytearray(sim.image(tmp_path))
    img[16:32] = bytes([0x5A] * 16)
    img[118:121] = bytes.fromhex(access)
    (tmp_path / "bad.bin").write_bytes(img)
    (tmp_path / "bad.json").write_text(json.dumps(
        {"blocks": {str(b): img[b * 16:b * 16 + 16].hex() for b in range(64)}}))
    before = sim.image(tmp_path)
    r = orvix("mifare", "restore", tmp_path / f"bad.{fmt}", "--with-trailers", *args, sim=sim)
    assert r.returncode == code and message in (r.stdout if code == 0 else r.stderr)
    after = sim.image(tmp_path)
    assert (after == before) == (code != 0)
    if code == 0:
        assert after[64:128] == (img if access == LOCKING else before)[64:128]


def test_value_commands(sim):
    steps = [
        (["value", "get", 4], 4, "block 4 is not a value block (00000000000000000000000000000000)"),
        (["value", "add", 4, 5], 4, "nothing changed"),
        (["value", "set", 4, 100], 0, "block 4: value 100\n"),
        (["read", 4], 0, "block 4: 64 00 00 00 9B FF FF FF 64 00 00 00 04 FB 04 FB\n"),
        (["value", "add", 4, 5], 0, "block 4: value 105\n"),
        (["value", "sub", 4, 200], 3, "value sub on block 4: the value 105 would go below zero; "
                                      "nothing changed"),
        (["value", "sub", 4, 200, "--allow-negative"], 0, "block 4: value -95\n"),
        # a reply lost after the reader took the frame: not sent again, the caller told
        ("fault nostatus cmd=BC", 0, "fault queued"),
        (["value", "sub", 4, 5, "--allow-negative"], 2, "decrement block 4: result 111 (link error o: no status byte); "
                                    "the card may have been changed; read the value back"),
        (["value", "get", 4], 0, "block 4: value -100\n"),
        (["value", "get", 7], 4, "block 7 cannot hold a value (sector trailer)"),
        (["write", 5, "00" * 15 + "01"], 0, "block 5: " + "00 " * 15 + "01\n"),
        (["value", "sub", 5, 1], 4, "block 5 is not a value block"),
        (["read", 5], 0, "block 5: " + "00 " * 15 + "01\n"),
        # read back with the keys it sets
        (["write", 7, "A0A1A2A3A4A5FF078069B0B1B2B3B4B5"], 0,
         "block 7: 00 00 00 00 00 00 FF 07 80 69 B0 B1 B2 B3 B4 B5\n"),
    ]
    for args, code, text in steps:
        if isinstance(args, str):
            assert sim(args).startswith(text)
            continue
        r = orvix("mifare", *args, sim=sim)
        assert (r.returncode, text in (r.stdout if code == 0 else r.stderr)) == (code, True), args


@pytest.mark.parametrize("args, out, code", [
    (["encode", "000 000 000 001"], "FF0780\n", 0),
    (["encode", "000,000,000,111"], "778788\nwarning: the keys and access bits of this sector "
                                    "could never be changed again\n", 0),
    (["encode", "000 000 001"], "orvix: C1C2C3 x4: twelve bits, blocks 0, 1, 2 and the trailer", 1),
    (["decode", "FF078069"], "block 0: 000  read A|B, write A|B, increment A|B, decrement A|B\n"
                             "block 1: 000  read A|B, write A|B, increment A|B, decrement A|B\n"
                             "block 2: 000  read A|B, write A|B, increment A|B, decrement A|B\n"
                             "trailer: 001  key A write A, access bits read A write A, "
                             "key B read A write A\n", 0),
    (["decode", "7F0788"], "trailer: 011  key A write B, access bits read A|B write B, "
                           "key B read never write B\n", 0),
    (["decode", "EE1781"], "block 0: 110  read A|B, write B, increment B, decrement A|B\n", 0),
    (["decode", "FF0781"], "orvix: access bytes FF 07 81: an inverted copy does not match", 4),
])
def test_access_bits(args, out, code):
    """out: what the standard output holds, or on failure the error's start (and no output)."""
    r = orvix("mifare", "acl", *args)
    assert (r.returncode, out in (r.stdout if code == 0 else r.stderr)) == (code, True)
    assert code == 0 or r.stdout == ""


@pytest.mark.parametrize("bits", ["110 001 100 011", "011 101 010 100", "000 110 111 001"])
def test_access_bits_round_trip(bits):
    encoded = orvix("mifare", "acl", "encode", bits).stdout.split()[0]
    decoded = orvix("--json", "mifare", "acl", "decode", encoded).stdout
    doc = json.loads(decoded)
    assert " ".join(doc[f"block{i}"]["C1C2C3"] for i in range(4)) == bits


def test_port_doctor_gives_each_verdict(sims, tmp_path):
    ok, slow, held, console, opened = sims(), sims("--speeds", "slow"), sims(), sims(), sims()
    master, slave = os.openpty()
    lock = open(held.path, "rb", buffering=0)
    reader = subprocess.Popen(["cat", opened.path], stdout=subprocess.DEVNULL)
    fcntl.flock(lock, fcntl.LOCK_EX)
    (tmp_path / "console").write_text(f"tty-not-here {console.path}\n")
    env = {"ORVIX32_COM1": ok.path, "ORVIX32_COM2": slow.path, "ORVIX32_COM3": held.path,
           "ORVIX32_COM4": console.path, "ORVIX32_COM5": os.ttyname(slave),
           "ORVIX32_COM7": opened.path, "ORVIX_PORTS_SCAN": "",
           "ORVIX_CONSOLE_LIST": str(tmp_path / "console")}
    r = orvix("--trace", tmp_path / "trace", "ports", env=env)
    verdicts = {l.split()[0]: l.split(None, 2)[2] for l in r.stdout.splitlines()}
    assert r.returncode == 0
    assert verdicts["COM1"] == "ok: 57600 bit/s, module 17, firmware TK61 2.1"
    assert verdicts["COM2"] == "ok: 9600 bit/s, module 17, firmware TK61 2.1"
    assert verdicts["COM3"] == f"busy: held by python3 (pid {os.getpid()})"
    assert verdicts["COM4"] == "console: the system console: refused, never probed"
    assert verdicts["COM5"] == "silent: opened at 57600 and 9600 bit/s, no reader answered"
    assert verdicts["COM6"] == "missing"
    assert verdicts["COM7"] == f"busy: held by cat (pid {reader.pid})"  # open, not locked
    trace = (tmp_path / "trace").read_text()
    assert " cmd A1 > 23 A1 00 A1 89 < 45 67 00 02 11 00 13 status 0 (ok)" in trace
    for s in (console, held, opened):
        assert s("status").startswith("exchanges=0 ")
    reader.kill()
    lock.close()
    os.close(master)
    os.close(slave)


def test_apdu_script_stops_at_the_first_unmet_expectation(sim):
    r = orvix("apdu", DATA / "script.apdu", sim=sim)
    lines = r.stdout.splitlines()
    assert r.returncode == 3 and len(lines) == 8
    assert lines[2:4] == ["> 00A40000023F00", "< 9000"]
    assert lines[4] == "> 0084000008" and re.fullmatch(r"< [0-9A-F]{16} 9000", lines[5])
    assert lines[6:] == ["> 00A40000021234", "< 6A82"]
    assert r.stderr == f"orvix: {DATA / 'script.apdu'} line 7: expected 9000, the card " \
                       "answered 6A82\n"


@pytest.mark.parametrize("args, csv", [
    ([], ["1001,2024-06-14,17:30", "1001,2024-06-15,08:02", "1002,2024-06-15,08:10",
          "77777,2025-01-02,23:59"]),
    (["--from", "2024-06-15", "--to", "2024-06-15"], ["1001,2024-06-15,08:02",
                                                     "1002,2024-06-15,08:10"]),
    (["--from", "2025-01-01"], ["77777,2025-01-02,23:59"]),
])
def test_attendance_export(sim, tmp_path, args, csv):
    for rec in ["1001 24-6-14 17:30", "1001 24-6-15 8:02", "1002 24-6-15 8:10",
                "77777 25-1-2 23:59"]:
        assert sim(f"kq record {rec}").startswith("kq: record")
    r = orvix("attendance", "export", "-o", tmp_path / "a.csv", *args, sim=sim)
    assert r.returncode == 0
    assert (tmp_path / "a.csv").read_text().splitlines() == ["card,date,time"] + csv


def test_memcard_write_then_read_across_pages(sims, tmp_path):
    sim = sims("--fault", "shortdata cmd=24 skip=3")  # a read piece is repeated after relinking
    data = os.urandom(700)
    (tmp_path / "in.bin").write_bytes(data)
    where = ["--type", 21, "--page", 3, "--address", 200]
    assert orvix("memcard", "write", *where, "-i", tmp_path / "in.bin", sim=sim).returncode == 0
    r = orvix("memcard", "read", *where, "--length", 700, "-o", tmp_path / "out.bin", sim=sim)
    assert r.stdout == f"read 700 bytes at position 992 into {tmp_path / 'out.bin'}\n"
    assert (tmp_path / "out.bin").read_bytes() == data


@pytest.mark.parametrize("setup, args, code, message", [
    (None, ["info"], 2, "orvix: no reader answered on COM1 (/nonexistent/orvix-test-com1) at "
                        "57600 or 9600 bit/s"),
    (["--fault", "nostatus cmd=B9 count=all"], ["mifare", "read", 1], 2,
     "read block 1: result 111 (link error o: no status byte)"),
    (["--do", "mifare remove"], ["mifare", "read", 1], 3,
     "result 32 (reader status 0x20: no card)"),
    ([], ["mifare", "read", 64], 1, "block: 0-63, not 64"),
    ([], ["mifare", "read", "010"], 1, "block: 0-63, not 010"),
    ([], ["mifare", "dump", "-o", OUT + ".mfd", "--keys-out", "/tmp/.." + OUT + ".mfd"], 1,
     "--keys-out: not the dump file " + OUT + ".mfd"),
    (["--fault", "shortdata cmd=24 count=3"], ["memcard", "read", "--type", 22, "--length", 9,
                                               "-o", OUT], 2,
     "read 9 bytes at position 0 of a type 22 card: result 113 (link error q: response data short)"),
    ([], ["--port", "12", "info"], 1,
     "--port: 0-9, COM1-COM10, auto, a device path or a URL, not 12"),
    ([], ["mifare", "write", 0, "00" * 16], 4, "block 0 holds the serial"),
    ([], ["attendance", "clock", "--set", "2023-02-29 10:00"], 1,
     '--set: "YYYY-MM-DD HH:MM[:SS]", not 2023-02-29 10:00'),  # no such day
    ([], ["attendance", "clock", "--set", "2024-02-29 10:00:"], 1, '--set: "YYYY-MM-DD HH:MM[:SS]"'),
    ([], ["attendance", "export", "-o", OUT, "--from", "2024-13-01"], 1,
     "--from: a date YYYY-MM-DD, not 2024-13-01"),
    ([], ["mifare", "read", 1, "--key", "FFFFFFFFFFF"], 1,
     "--key: 12 hexadecimal digits, not FFFFFFFFFFF"),
    ([], ["mifare", "restore", DATA / "keys.dic", "--format", "bin"], 4,
     "a raw dump is 1024 bytes, this one is 98"),
    ([], ["mifare", "restore", DATA / "script.apdu", "--format", "eml"], 4,
     "script.apdu: an emulator dump has 64 block lines, this one 9"),
    ([], ["mifare", "dump", "-o", OUT + ".mfd", "--keys", DATA / "hand.mct"], 4,
     "hand.mct line 1: not a 12-digit key"),
    ([], ["apdu", "-"], 4, "- line 1: neither an APDU"),
    (None, ["--port", "auto", "info"], 2, "or COM2 (/nonexistent/orvix-test-com2) (result 65539 "
                                          "(no such port)); `orvix ports` tells why"),
    (None, ["--port", "tcp://127.0.0.1:1", "info"], 2, "no reader answered on tcp://127.0.0.1:1 at "
                                                       "57600 or 9600 bit/s: result 65545 "
                                                       "(connection refused)"),
    ([], ["mifare", "restore", "-", "--format", "mfd", "--sectors", "-"], 1, "--sectors: a list"),
    ([], ["mifare", "restore", "-", "--format", "mfd", "--sectors", "5x"], 1, "--sectors: a list"),
    ([], ["mifare", "restore", "-", "--format", "json"], 4, 'block "01" is not 0-63'),
    ([], ["mifare", "restore", "-", "--format", "mct"], 4, "- line 1: sector 0-15 expected"),
    (["--fault", "status cmd=B8 status=32"], ["mifare", "read", 1], 3,
     "authenticate sector 0 with key A: result 32 (reader status 0x20: no card)"),
    (["--fault", "status cmd=BA skip=2 status=36"], ["mifare", "restore", DATA / "hand.eml"], 3,
     "write block 4: result 36 (reader status 0x24: access denied by the access conditions); "
     "blocks already written: 1 2"),
])
def test_errors_name_what_failed(sims, setup, args, code, message):
    sim = sims(*setup) if setup is not None else None
    stdin = {"json": '{"blocks": {"01": null}}', "mct": "+Sector: 1.9\n"}.get(args[-1], "hello\n")
    r = orvix(*args, sim=sim, stdin=stdin)
    assert (r.returncode, r.stderr.count("\n")) == (code, 1) and message in r.stderr, r.stderr


def hostile(tmp, kind):
    """A file no command may read; none of them blocks, grows or aborts."""
    path = tmp / "in.mfd"
    if kind == "directory":
        path.mkdir()
    elif kind == "fifo":
        os.mkfifo(path)
    elif kind == "device":
        return "/dev/zero"
    elif kind == "too large":
        with open(path, "wb") as f:
            f.truncate(1 << 31)
    elif kind == "empty":
        path.write_bytes(b"")
    elif kind == "non-UTF-8 name":
        return str(tmp) + "/\udcff.mfd"  # missing; its name goes into JSON
    return path


@pytest.mark.parametrize("kind, reason", [
    ("directory", "Is a directory"), ("fifo", "not a regular file (a FIFO)"),
    ("device", "not a regular file (a device)"), ("too large", "too large (2147483648 bytes"),
    ("empty", "empty"), ("non-UTF-8 name", "No such file or directory")])
def test_hostile_input_files(sim, tmp_path, kind, reason):
    path = hostile(tmp_path, kind)
    for args in (["mifare", "restore", path, "--format", "mfd"], ["mifare", "dump", "-o", tmp_path / "o.mfd",
                                               "--keys", path],
                 ["mifare", "read", 1, "--keys", path], ["apdu", path],
                 ["memcard", "write", "--type", 21, "-i", path]):
        r = orvix("--json", *args, sim=sim)
        assert (r.returncode, r.stderr.count("\n"), reason in r.stderr) == (4, 1, True), r.stderr
        assert json.loads(r.stdout)["exit"] == 4  # exactly one document
    assert sim("status").startswith("exchanges=0 ") and not (tmp_path / "o.mfd").exists()


@pytest.mark.parametrize("target, setup, code, message", [
    ("good", ["--do", "mifare remove"], 3, "request (no Mifare card in the field?)"),
    ("good", [], 4, "k: a directory, not a regular file; not replaced"),  # --keys-out fails: neither file is replaced
    ("/dev/null", [], 4, "/dev/null: a device, not a regular file; not replaced"),
    ("link", [], 4, "a symbolic link, not a regular file; not replaced"),
    ("none/x.eml", [], 4, "none/x.eml: cannot write in its folder: No such file or directory"),
    ("-", [], 0, ""),
    ("new", [], 0, ""),
])
def test_output_targets(sims, tmp_path, target, setup, code, message):
    sim = sims(*setup)
    (tmp_path / "k").mkdir()
    good = tmp_path / "good.eml"
    good.write_text("kept\n")
    (tmp_path / "link").symlink_to(good)
    path = {"good": good, "link": tmp_path / "link", "new": tmp_path / "new.eml",
            "none/x.eml": tmp_path / target}.get(target, target)
    keys = tmp_path / ("k" if code == 4 and target == "good" else "k.txt")
    r = orvix("mifare", "dump", "-o", path, "--format", "eml", "--keys-out", keys, sim=sim)
    assert r.returncode == code and message in r.stderr, r.stderr
    assert sim("status").startswith("exchanges=0 ") == (code == 4)  # refused before any work
    assert good.read_text() == "kept\n" and os.path.islink(tmp_path / "link")
    assert os.path.exists("/dev/null") and not os.path.isfile("/dev/null")
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []
    if target == "-":
        assert len(r.stdout.splitlines()) == 64 and "16 of 16 sectors read" in r.stderr
    if target == "new":
        assert [os.stat(p).st_mode & 0o777 for p in (path, keys)] == [0o600, 0o600]


@pytest.mark.parametrize("kind", ["/dev/null", "/dev/zero", "fifo"])
@pytest.mark.parametrize("how", ["--port", "ORVIX32_COM1", "ports"])
def test_no_port_that_is_no_serial_device_is_opened(tmp_path, kind, how):
    path = kind if kind != "fifo" else str(tmp_path / "fifo")
    if kind == "fifo":
        os.mkfifo(path)
    args = ["--port", path, "info"] if how == "--port" else ["ports"] if how == "ports" else ["info"]
    env = {"ORVIX_PORTS_SCAN": ""} if how == "ports" else {}
    if how != "--port":
        env["ORVIX32_COM1"] = path
    log = tmp_path / "strace"
    # (the leak checker of a sanitizer build cannot work under ptrace)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    r = orvix("-o", log, "-f", "-e", "trace=openat", ORVIX, *args, env=env, program="strace")
    assert r.returncode == 2, r.stderr  # no reader on any port
    assert f'"{path}"' not in log.read_text()  # stat()ed at most, never opened


def test_port_names_and_release(sim, tmp_path):
    """--port takes a COM name, an index or the device itself; each run closes
    the port, so the next run (and the port doctor) finds it free at once."""
    for port in ["COM1", "com1", "0", sim.path]:
        r = orvix("--port", port, "--json", "info", sim=sim)
        assert r.returncode == 0 and json.loads(r.stdout)["module"] == 17, (port, r.stderr)
    r = orvix("ports", "tcp://127.0.0.1:1", sim=sim, env={"ORVIX_PORTS_SCAN": ""})
    assert re.search(r"^COM1 +\S+ +ok: ", r.stdout, re.M), r.stdout
    assert re.search(r"^- +tcp://127.0.0.1:1 +unreachable: no server", r.stdout, re.M), r.stdout


def test_ctrl_c_stops_a_restore_between_blocks(sim, tmp_path):
    """Ctrl-C during a restore on a slow reader: it stops between two blocks and
    names the blocks already written."""
    sim("fault delay ms=400 cmd=BA count=all")
    e = {k: v for k, v in os.environ.items() if not k.startswith("ORVIX")}
    e.update(NOWHERE, ORVIX32_COM1=sim.path)
    trace = tmp_path / "trace"
    p = subprocess.Popen([ORVIX, "--trace", str(trace), "mifare", "restore", str(DATA / "hand.eml")],
                         env=e, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for(lambda: trace.exists() and " cmd BA > " in trace.read_text(), "a block written")
    p.send_signal(2)
    out, err = p.communicate(timeout=20)
    assert p.returncode == 130 and re.fullmatch(
        r"orvix: interrupted before block \d+; blocks already written:( \d+)+\n", err), err
