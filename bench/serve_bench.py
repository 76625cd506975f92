#!/usr/bin/env python3
"""The time orvix serve adds to a call: a block read (key load, request,
anticollision, select, authentication, read) through the service's WebSocket
on loopback against the same steps on a reader handle called with ctypes,
both against readersim unpaced (not a test; run by hand):

    ORVIX32_LIBRARY=build/driver/libORVIX32.so ORVIX32_READERSIM=build/sim/readersim \\
        ORVIX=build/tools/orvix/orvix python3 bench/serve_bench.py [calls]
"""
import ctypes
import json
import os
import subprocess
import sys
import time

import websocket


def per_call(fn, calls):
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    sim = subprocess.Popen([os.environ["ORVIX32_READERSIM"]], stdout=subprocess.PIPE, text=True)
    port = sim.stdout.readline().strip()
    env = dict(os.environ, ORVIX32_COM1=port)
    serve = subprocess.Popen([os.environ["ORVIX"], "serve", "--listen", "127.0.0.1:0",
                              "--max-rate", "1000000"],
                             env=env, stdout=subprocess.PIPE, text=True)
    url = serve.stdout.readline().split()[-1].rstrip("/")
    try:
        lib = ctypes.CDLL(os.environ["ORVIX32_LIBRARY"])
        r = ctypes.c_void_p()
        assert lib.orvix_open(port.encode(), None, ctypes.byref(r)) == 0
        key, typ, snr, data = (ctypes.c_ubyte * 6)(*[0xFF] * 6), (ctypes.c_ubyte * 4)(), \
            (ctypes.c_ubyte * 4)(), (ctypes.c_ubyte * 16)()

        def direct():
            assert lib.orvix_mifare_load_key(r, 0, 1, key, 6) == 0
            assert lib.orvix_mifare_request(r, 1, typ, 4) == 0
            assert lib.orvix_mifare_anticoll(r, snr, 4) == 0
            assert lib.orvix_mifare_select(r, int.from_bytes(bytes(snr), "little", signed=True)) == 0
            assert lib.orvix_mifare_authenticate(r, 0, 1, 7) == 0
            assert lib.orvix_mifare_read(r, 4, data, 16) == 0

        a = per_call(direct, calls)
        lib.orvix_close(r)
        ws = websocket.create_connection(url.replace("http", "ws") + "/ws", origin=url)
        ws.send(json.dumps({"id": 0, "op": "open", "args": {"port": "COM1"}}))
        assert "result" in json.loads(ws.recv())
        message = json.dumps({"id": 1, "op": "read_block", "args": {"block": 4}})

        def service():
            ws.send(message)
            assert "result" in json.loads(ws.recv())

        b = per_call(service, calls)
        print(f"block read, handle API directly: {a * 1e3:8.3f} ms")
        print(f"block read, through orvix serve: {b * 1e3:8.3f} ms")
        print(f"added by the service:            {(b - a) * 1e3:8.3f} ms per call")
    finally:
        serve.terminate()
        sim.terminate()


if __name__ == "__main__":
    main()
