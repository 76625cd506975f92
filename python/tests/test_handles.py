"""Readers as objects: several at once, closed, interrupted, held across a sequence."""
import os
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import orvix32
from orvix32 import Error, LinkError, Reader, ReaderClosedError
from orvix32.testing import Simulator

FF6 = b"\xff" * 6


def test_two_readers_in_parallel_threads():
    with Simulator() as a, Simulator() as b, Reader(a.port) as ra, Reader(b.path) as rb:
        for sim, serial in ((a, "A1A2A3A4"), (b, "B1B2B3B4")):
            sim.control("mifare remove")
            sim.control("mifare insert classic " + serial)

        def own_card(reader):
            m, seen = reader.mifare, set()
            for _ in range(40):
                m.request()
                serial = m.anticollision()
                m.select(serial)
                seen.add(serial.hex().upper())
            return seen

        with ThreadPoolExecutor(2) as pool:
            assert [f.result() for f in [pool.submit(own_card, r) for r in (ra, rb)]] == [
                {"A1A2A3A4"}, {"B1B2B3B4"}]
        assert (ra.port, rb.port) == (a.port, b.path)


CLOSED_CALLS = [lambda r: r.mifare.request(), lambda r: r.firmware_version(),
                lambda r: r.baud_rate, lambda r: r.cpu.protocol, lambda r: r.sam(2).reset(),
                lambda r: r.transaction().__enter__()]


def test_closed_reader(orvix_sim):
    reader = orvix_sim.reader()
    start = time.monotonic()
    reader.close()
    assert time.monotonic() - start < 0.5  # no pause
    reader.close()
    for call in CLOSED_CALLS:
        with pytest.raises(ReaderClosedError, match="the reader on COM.* is closed") as e:
            call(reader)
        assert isinstance(e.value, Error) and e.value.code is None
    dropped = Reader(orvix_sim.path)
    del dropped  # no cycle: closed at once, without the collector
    mifare = Reader(orvix_sim.path).mifare  # a family keeps its reader open
    assert mifare.module_number() == 17
    del mifare
    package = os.path.dirname(os.path.dirname(orvix32.__file__))
    held = subprocess.run([sys.executable, "-c", f"import orvix32; r = orvix32.Reader({orvix_sim.path!r})"],
                          env={**os.environ, "PYTHONPATH": package}, timeout=30)
    assert held.returncode == 0  # a reader open at exit is closed there, no hang
    with Reader(orvix_sim.path) as again:  # the port is free at once
        assert again.firmware_version() == b"TK61 2.1"
    assert reader.link().firmware_version() == b"TK61 2.1"
    reader.close()
    reader = Reader(orvix_sim.path)
    reader._worker.stop = lambda: signal.raise_signal(signal.SIGINT)  # Ctrl-C inside close
    with pytest.raises(KeyboardInterrupt):
        reader.close()
    del reader._worker.stop
    Reader(orvix_sim.path).close()  # the port was let go all the same



@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # fork with threads running
def test_a_forked_child_leaves_the_reader_alone(orvix_sim):
    reader = orvix_sim.reader()
    pid = os.fork()
    if pid == 0:  # the child's calls are refused and its close touches nothing
        try:
            reader.firmware_version()
        except ReaderClosedError as e:
            reader.close()
            os._exit(0 if "belongs to the process that opened it" in str(e) else 2)
        os._exit(1)
    assert os.waitpid(pid, 0)[1] == 0
    with pytest.raises(LinkError, match="port busy"):
        Reader(orvix_sim.path)
    assert reader.firmware_version() == b"TK61 2.1"
    reader.close()

@pytest.mark.parametrize("silent", [False, True])  # True: a call in the transaction waits
def test_close_ends_what_other_threads_hold(orvix_sim, silent):
    reader, inside, done, seen = orvix_sim.reader(), threading.Event(), threading.Event(), []
    with reader.transaction():
        reader.close()  # this thread's own transaction ends with the close
    reader.link()

    def hold():
        try:
            with reader.transaction():
                inside.set()
                reader.mifare.request() if silent else done.wait(5)
                reader.firmware_version()
        except Error as e:
            seen.append(e)
    orvix_sim.control("fault silent count=all" if silent else "faults clear")
    thread = threading.Thread(target=hold)
    thread.start()
    assert inside.wait(5)
    start = time.monotonic()
    reader.close()
    assert time.monotonic() - start < 1  # not the seconds of a silent reader's relinks
    done.set()
    thread.join()
    assert seen and isinstance(seen[0], Error), seen  # cancelled, or closed
    orvix_sim.control("faults clear")
    with Reader(orvix_sim.path) as again:  # the port was let go at once
        assert again.firmware_version() == b"TK61 2.1"


def _interrupt_after(seconds):
    """SIGINT to the main thread (as Ctrl-C) after ``seconds``; the time it was sent."""
    sent = []
    main = threading.main_thread().ident

    def send():
        sent.append(time.monotonic())
        signal.pthread_kill(main, signal.SIGINT)
    threading.Timer(seconds, send).start()  # the stimulus: Ctrl-C while the call waits
    return sent


def _in_transaction(reader):
    with reader.transaction():
        reader.mifare.request()


@pytest.mark.parametrize("call", [  # the Mifare family relinks and repeats for seconds
    lambda r: r.mifare.request(), lambda r: r.mifare.read_block(4, bytes(4)), _in_transaction])
def test_ctrl_c_stops_a_call(sim, reader, call):
    sim.control("fault silent count=all")
    sent = _interrupt_after(0.3)
    with pytest.raises(KeyboardInterrupt):
        call(reader)
    assert time.monotonic() - sent[0] < 0.1
    sim.control("faults clear")
    assert reader.firmware_version() == b"TK61 2.1"
    _in_transaction(reader)  # not left held


def test_ctrl_c_after_a_value_step_went_out_says_the_card_may_have_changed(sim, reader,
                                                                           fresh_card):
    serial = reader.mifare.serial()
    reader.mifare.load_key(1, FF6)
    reader.mifare.write_value(4, serial, 100)
    sim.fault("delay", cmd=0xB1, ms=400)  # the reader carries the step out after 0.4 s
    sent = _interrupt_after(0.2)
    with pytest.raises(KeyboardInterrupt) as e:
        reader.mifare.increment_value(4, serial, 5)
    assert time.monotonic() - sent[0] < 0.1 and e.value.card_may_have_changed
    assert e.value.__notes__ == [
        "RFMifare_IncrementValue: the card may have been changed; read the value back"]
    assert reader.mifare.read_value(4, serial) == 105  # it was carried out


def test_transactions_from_two_threads(reader, fresh_card):
    m = reader.mifare
    m.load_key(1, FF6)

    def sequences():
        for _ in range(100):
            with reader.transaction():
                m.request()
                m.select(m.anticollision())
                m.authenticate(1)
                assert m.read(4) == bytes(16)
        return True

    with ThreadPoolExecutor(2) as pool:
        assert [f.result() for f in [pool.submit(sequences) for _ in range(2)]] == [True, True]
