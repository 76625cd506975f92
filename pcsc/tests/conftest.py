"""Fixtures: readersim on a pty (driven by its control commands) and pcscd in a
private mount namespace, reached through PCSCLITE_CSOCK_NAME."""
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("BUILD", "build")).resolve()
DRIVER = BUILD / "pcsc/libifd-orvix.so"
READERSIM = BUILD / "sim/readersim"
ORVIX = BUILD / "tools/orvix/orvix"
# The client library reads the socket name once per process: one for all.
RUN = Path(tempfile.mkdtemp(prefix="pcsc-test-run-"))
os.environ["PCSCLITE_CSOCK_NAME"] = str(RUN / "pcscd.comm")
SLOTS = ["contactless", "cpu", "sam1", "sam2", "sam3", "sam4"]
NAMES = {"contactless": "ORVIX32 contactless", "cpu": "ORVIX32 CPU card",
         **{f"sam{i}": f"ORVIX32 SAM {i}" for i in range(1, 5)}}


def wait_for(check, what, seconds=10.0):
    """Polls check() until it is true; fails naming what did not happen."""
    end = time.monotonic() + seconds
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


class Sim:
    def __init__(self, *args):
        self.proc = subprocess.Popen([str(READERSIM), "--control", *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)
        self.path = self.proc.stdout.readline().strip()

    def do(self, command):
        self.proc.stdin.write(command + "\n")
        answer = self.proc.stdout.readline().strip()
        assert not answer.startswith("error"), (command, answer)
        return answer

    stop = lambda self: (self.proc.send_signal(signal.SIGTERM), self.proc.wait(10))


class Pcscd:
    """pcscd -f -c DIR in its own mount namespace with a fresh /run/pcscd,
    bound to this test's run folder; stopped by its PID."""

    def __init__(self, tmp, entries):
        self.conf = tmp / "reader.conf.d"
        self.conf.mkdir(exist_ok=True)
        for i, (name, device) in enumerate(entries):
            (self.conf / f"r{i}").write_text(
                f'FRIENDLYNAME "{name}"\nDEVICENAME {device}\nLIBPATH {DRIVER}\n')
        self.log = tmp / "pcscd.log"
        self.start()

    def start(self):
        for f in RUN.iterdir():
            f.unlink()
        script = ('mount --make-rprivate / && mount -t tmpfs tmpfs /run && mkdir /run/pcscd && '
                  f'mount --bind {RUN} /run/pcscd && exec pcscd -f $PCSCD_FLAGS -c {self.conf}')
        unshare = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-rm"]
        env = {k: v for k, v in os.environ.items() if k != "PCSCLITE_CSOCK_NAME"}
        with open(self.log, "a") as log:
            self.proc = subprocess.Popen([*unshare, "sh", "-c", script], stdout=log,
                                         stderr=subprocess.STDOUT, env=env)
        wait_for(lambda: (RUN / "pcscd.comm").exists(), "pcscd's socket")
        # pyscard lists readers through one context per process: a new one
        # for the new daemon.
        from smartcard.pcsc.PCSCContext import PCSCContext
        wait_for(lambda: call_ok(PCSCContext.renewContext), "a context of the new pcscd")

    alive = lambda self: self.proc.poll() is None
    stop = Sim.stop


def call_ok(f, fallback=False):
    try:
        return f()
    except Exception:
        return fallback


def readers():  # [] while pcscd is still loading the driver
    from smartcard.System import readers as listed
    return call_ok(lambda: [str(r) for r in listed()], [])


@pytest.fixture
def sim():
    yield (s := Sim())
    s.stop()


@pytest.fixture
def pcscd(sim, tmp_path):
    """pcscd with one reader.conf.d entry per slot of the simulated reader."""
    d = Pcscd(tmp_path, [(NAMES[s], f"{s}:{sim.path}") for s in SLOTS])
    wait_for(lambda: len(readers()) == len(SLOTS), "the six readers")
    yield d
    if d.alive():
        d.stop()


@pytest.fixture
def connect():
    """Opens a pyscard connection to a slot; closed after the test."""
    from smartcard.System import readers as listed
    opened = []

    def attempt(slot, mode):
        c = next(r for r in listed() if str(r).startswith(NAMES[slot] + " ")).createConnection()
        c.connect(mode=mode) if mode else c.connect()
        return c

    def open_(slot, mode=None, wait=5):  # pcscd sees a card at its next look
        c = wait_for(lambda: call_ok(lambda: attempt(slot, mode), None), slot, wait) if wait \
            else attempt(slot, mode)
        return opened.append(c) or c

    yield open_
    for c in opened:
        call_ok(c.disconnect)


def pytest_sessionfinish():
    shutil.rmtree(RUN, ignore_errors=True)
