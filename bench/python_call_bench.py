#!/usr/bin/env python3
"""The cost of a call through orvix32.Reader (the reader's own thread, its
lock, the argument adapter, the result check) over the bare handle function
called with ctypes, against readersim unpaced (not a test; run by hand):

    ORVIX32_LIBRARY=build/driver/libORVIX32.so ORVIX32_READERSIM=build/sim/readersim \\
        python3 bench/python_call_bench.py [calls]
"""
import ctypes
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
from orvix32 import _library  # noqa: E402
from orvix32.testing import Simulator  # noqa: E402


def per_call(fn, calls):
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    with Simulator() as sim, sim.reader() as reader:
        lib, handle = _library.library(), reader._handle
        version, buf = _library.handle_call("DEVVER")[0], _library.buffer(8)
        rows = [("no exchange (baud rate)", lambda: reader.baud_rate,
                 lambda: lib.orvix_baud_rate(ctypes.c_void_p(handle))),
                ("one exchange (firmware version)", reader.firmware_version,
                 lambda: version(handle, buf, 8))]
        lib.orvix_baud_rate.argtypes = [ctypes.c_void_p]
        for what, through, bare in rows:
            a, b = per_call(through, calls), per_call(bare, calls)
            print(f"{what}: Reader {a * 1e6:.1f} us, bare {b * 1e6:.1f} us, "
                  f"overhead {(a - b) * 1e6:.1f} us a call")


if __name__ == "__main__":
    main()
