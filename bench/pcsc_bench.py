#!/usr/bin/env python3
"""What pcscd and libifd-orvix add to an APDU: the same READ BINARY of 16
bytes to the CPU card, and the same Mifare block read, through pcscd (pyscard)
and through orvix.h (ctypes), against one paced readersim (not a test; run by
hand, as root or with user namespaces):

    python3 bench/pcsc_bench.py [BUILD] [rounds]

pcscd runs in a private mount namespace with a fresh /run/pcscd, as in the
tests; the system's pcscd is not touched.
"""
import ctypes
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 300
RUN = Path(tempfile.mkdtemp(prefix="pcsc-bench-"))
os.environ["PCSCLITE_CSOCK_NAME"] = str(RUN / "pcscd.comm")
from smartcard.pcsc.PCSCContext import PCSCContext  # noqa: E402  (reads the socket name)
from smartcard.System import readers  # noqa: E402

READ = [0x00, 0xB0, 0x00, 0x00, 0x10]
BLOCK = [0xFF, 0xB0, 0x00, 0x04, 0x10]


def timed(fn):
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        fn()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def through_pcscd(path):
    conf = RUN / "conf"
    conf.mkdir(exist_ok=True)
    for slot in ("cpu", "contactless"):
        (conf / slot).write_text(f'FRIENDLYNAME "bench {slot}"\nDEVICENAME {slot}:{path}\n'
                                 f'LIBPATH {BUILD}/pcsc/libifd-orvix.so\n')
    script = (f"mount -t tmpfs tmpfs /run && mkdir /run/pcscd && mount --bind {RUN} /run/pcscd"
              f" && exec pcscd -f -c {conf}")
    env = {k: v for k, v in os.environ.items() if k != "PCSCLITE_CSOCK_NAME"}
    unshare = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-rm"]
    pcscd = subprocess.Popen([*unshare, "sh", "-c", script], env=env, stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        while len(names := [r for r in safe(readers) if str(r).startswith("bench")]) < 2:
            assert time.monotonic() < deadline, "pcscd did not list the readers"
            safe(PCSCContext.renewContext)  # pyscard's one context, for this pcscd
            time.sleep(0.05)
        cpu, field = (next(r for r in names if s in str(r)).createConnection()
                      for s in ("cpu", "contactless"))
        cpu.connect()
        cpu.transmit([0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02])
        field.connect()
        field.transmit([0xFF, 0x82, 0x00, 0x00, 0x06] + [0xFF] * 6)
        field.transmit([0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00])
        result = timed(lambda: cpu.transmit(READ)), timed(lambda: field.transmit(BLOCK))
        cpu.disconnect()
        field.disconnect()
        return result
    finally:
        pcscd.send_signal(signal.SIGTERM)
        pcscd.wait()


def safe(fn):
    try:
        return fn()
    except Exception:
        return []


def through_orvix(path):
    lib = ctypes.CDLL(str(BUILD / "driver/libORVIX32.so"))
    reader = ctypes.c_void_p()
    assert lib.orvix_open(path.encode(), None, ctypes.byref(reader)) == 0
    answer, got = ctypes.create_string_buffer(64), ctypes.c_size_t()
    lib.orvix_cpu_reset(reader, 0, answer, ctypes.c_size_t(64), ctypes.byref(got))
    command, response = ctypes.create_string_buffer(300), ctypes.create_string_buffer(300)
    select = bytes([0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00])
    ctypes.memmove(command, select, len(select))
    lib.orvix_cpu_packed(reader, 0, command, ctypes.c_size_t(300), response, ctypes.c_size_t(300))

    def apdu():
        ctypes.memmove(command, bytes(READ[:4] + [0, 0x10]), 6)
        return lib.orvix_cpu_packed(reader, 0, command, ctypes.c_size_t(300), response,
                                    ctypes.c_size_t(300))
    assert apdu() == 0x9000
    block = ctypes.create_string_buffer(16)
    for call in (lambda: lib.orvix_mifare_request(reader, 1, block, ctypes.c_size_t(4)),
                 lambda: lib.orvix_mifare_anticoll(reader, block, ctypes.c_size_t(4)),
                 lambda: lib.orvix_mifare_select(reader, ctypes.c_int.from_buffer_copy(
                     block.raw[:4]).value),
                 lambda: lib.orvix_mifare_authenticate(reader, 0, 1, 4)):
        assert call() == 0
    result = timed(apdu), timed(lambda: lib.orvix_mifare_read(reader, 4, block,
                                                              ctypes.c_size_t(16)))
    lib.orvix_close(reader)
    return result


def main():
    sim = subprocess.Popen([str(BUILD / "sim/readersim"), "--paced"], stdout=subprocess.PIPE,
                           text=True)
    path = sim.stdout.readline().strip()
    try:
        # In turns, three times each; the fastest median of each way counts
        # (a shared machine slows some runs down).
        runs = [(through_orvix(path), through_pcscd(path)) for _ in range(3)]
        direct = tuple(min(r[0][i] for r in runs) for i in range(2))
        pcsc = tuple(min(r[1][i] for r in runs) for i in range(2))
    finally:
        sim.send_signal(signal.SIGTERM)
        sim.wait()
    print(f"readersim paced at 57600 bit/s, the fastest of 3 medians of {ROUNDS} rounds")
    for what, d, p in (("READ BINARY 16 bytes (CPU card, T=0)", direct[0], pcsc[0]),
                       ("Mifare block read (FF B0 / orvix_mifare_read)", direct[1], pcsc[1])):
        print(f"{what}: orvix.h {d:.3f} ms, pcscd {p:.3f} ms, added {p - d:+.3f} ms")


if __name__ == "__main__":
    main()
