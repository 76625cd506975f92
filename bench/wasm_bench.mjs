// A Mifare block read (0xAC, one exchange of 5 + 16 data bytes) through the
// WebAssembly driver and through the native library, on the same paced
// readersim (each byte takes its wire time at 57600 bit/s); and how soon a
// cancel ends a waiting call. The WebAssembly driver reaches the pty through
// the Node stand-in for a Web Serial port.
//   node bench/wasm_bench.mjs [reads] [rounds]   (from the source folder, after scripts/wasm-test)
import { spawn } from 'node:child_process';
import path from 'node:path';
import readline from 'node:readline';
import { openReader, startSim } from '../wasm/tests/harness.mjs';

const READS = Number(process.argv[2] || 100);
const ROUNDS = Number(process.argv[3] || 3);
const LIB = process.env.ORVIX32_LIB || path.resolve('build/driver/libORVIX32.so');
const KEY = 'FFFFFFFFFFFF';

const sim = await startSim(['--paced']);

// The native library in a Python process that reads a batch on each line it
// is given, the port open for the batch only.
const py = spawn('python3', ['-c', `
import ctypes, sys, time
lib = ctypes.CDLL(sys.argv[1])
key = (ctypes.c_ubyte * 6)(*[0xFF] * 6)
t = (ctypes.c_ubyte * 4)(); s = (ctypes.c_ubyte * 4)(); d = (ctypes.c_ubyte * 16)()
for line in sys.stdin:
    r = ctypes.c_void_p()
    assert lib.orvix_open(sys.argv[2].encode(), None, ctypes.byref(r)) == 0
    assert lib.orvix_mifare_load_key(r, 0, 1, key, ctypes.c_size_t(6)) == 0
    assert lib.orvix_mifare_request(r, 1, t, ctypes.c_size_t(4)) == 0
    assert lib.orvix_mifare_anticoll(r, s, ctypes.c_size_t(4)) == 0
    serial = int.from_bytes(bytes(s), 'little', signed=True)
    read = lambda: lib.orvix_mifare_read_block(r, 4, serial, d, ctypes.c_size_t(16))
    for _ in range(10): assert read() == 0
    n = int(line); t0 = time.perf_counter()
    for _ in range(n): assert read() == 0
    print((time.perf_counter() - t0) * 1000 / n, flush=True)
    lib.orvix_close(r)
`, LIB, sim.link], { stdio: ['pipe', 'pipe', 'inherit'] });
const answers = readline.createInterface({ input: py.stdout });
const waiting = [];
answers.on('line', (l) => waiting.shift()?.(Number(l)));
const nativeBatch = () => new Promise((resolve) => { waiting.push(resolve); py.stdin.write(`${READS}\n`); });

async function wasmBatch() {
  const { reader } = await openReader(sim);
  const serial = await reader.mifare.card(4, { key: KEY });
  for (let i = 0; i < 10; ++i) await reader.mifare.readBlock(4, { serial });
  const t0 = performance.now();
  for (let i = 0; i < READS; ++i) await reader.mifare.readBlock(4, { serial });
  const ms = (performance.now() - t0) / READS;
  await reader.close();
  return ms;
}

// Batches taken in turn; the fastest of each side counts, so that what else
// the machine is doing weighs on neither alone.
const wasmRuns = [];
const nativeRuns = [];
for (let round = 0; round < ROUNDS; ++round) {
  wasmRuns.push(await wasmBatch());
  nativeRuns.push(await nativeBatch());
}
py.stdin.end();
const wasmMs = Math.min(...wasmRuns);

// Cancel: a call waiting on a reader that does not acknowledge.
const { reader } = await openReader(sim);
const cancels = [];
for (let i = 0; i < 10; ++i) {
  await sim.control('fault delay ms=900 cmd=22');
  const call = reader.deviceVersion().catch((e) => e.code);
  await new Promise((resolve) => setTimeout(resolve, 50));
  const t0 = performance.now();
  reader.cancel();
  if ((await call) !== 65537) throw new Error('the cancelled call did not end cancelled');
  cancels.push(performance.now() - t0);
  await sim.control('faults clear');
}
await reader.close();
await sim.stop();

const nativeMs = Math.min(...nativeRuns);
cancels.sort((a, b) => a - b);
const list = (runs) => runs.map((x) => x.toFixed(2)).join(' ');
console.log(`block read, paced 57600 bit/s, ${ROUNDS} rounds of ${READS} reads: native ${nativeMs.toFixed(2)} ms ` +
  `(${list(nativeRuns)}), wasm ${wasmMs.toFixed(2)} ms (${list(wasmRuns)}), ratio ${(wasmMs / nativeMs).toFixed(3)}`);
console.log(`cancel to rejection: median ${cancels[5].toFixed(2)} ms, max ${cancels[9].toFixed(2)} ms`);
