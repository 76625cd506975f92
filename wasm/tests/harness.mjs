// What the WebAssembly tests share: readersim under control, the driver
// module from the build, a reader on the pty stand-in.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { PtyPort } from './pty_port.mjs';

export const BUILD = process.env.ORVIX_WASM_BUILD || path.resolve('build-wasm');
export const READERSIM = process.env.READERSIM || path.resolve('build/sim/readersim');
export const LIB = process.env.ORVIX32_LIB || path.resolve('build/driver/libORVIX32.so');
export const ORVIX = process.env.ORVIX || path.resolve('build/tools/orvix/orvix');
export const api = await import(path.join(BUILD, 'orvix.mjs'));
export const wasmBinary = fs.readFileSync(path.join(BUILD, 'orvix.wasm'));

// readersim on a fresh pty; control(line) runs a control command and gives
// its answer.
// logged(re) waits for the next line of its exchange log that matches.
export async function startSim(args = []) {
  const proc = spawn(READERSIM, ['--stdin-control', '--verbose', ...args], { stdio: ['pipe', 'pipe', 'pipe'] });
  const watchers = new Set();
  readline.createInterface({ input: proc.stderr }).on('line', (l) => {
    for (const w of watchers) w(l);
  });
  const lines = readline.createInterface({ input: proc.stdout });
  const waiting = [];
  lines.on('line', (l) => waiting.shift()?.(l));
  const next = () => new Promise((resolve) => waiting.push(resolve));
  const link = await next();
  return {
    proc,
    link,
    control(command) {
      const answer = next();
      proc.stdin.write(`${command}\n`);
      return answer;
    },
    logged(re) {
      return new Promise((resolve) => {
        const w = (l) => { if (re.test(l)) { watchers.delete(w); resolve(l); } };
        watchers.add(w);
      });
    },
    stop() {
      proc.stdin.end();
      return new Promise((resolve) => proc.once('exit', resolve));
    },
  };
}

// A reader on the simulator's pty; port is the stand-in (its speeds asked).
export async function openReader(sim, options = {}) {
  const port = new PtyPort(sim.link);
  const reader = await api.Orvix.open(port, { wasmBinary, ...options });
  return { reader, port };
}

// The result code of a call: 0, or the OrvixError's code.
export async function code(promise) {
  try {
    await promise;
    return 0;
  } catch (e) {
    if (!(e instanceof api.OrvixError)) throw e;
    return e.code;
  }
}

// The native library on the simulator: for each fault, the result of the
// reader's firmware version query (0x22) with the fault queued, and of the
// next one. The pty must be free.
export async function nativeCodes(sim, faults) {
  const py = spawn('python3', ['-c', `
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
r = ctypes.c_void_p()
print(lib.orvix_open(sys.argv[2].encode(), None, ctypes.byref(r)), flush=True)
v = (ctypes.c_ubyte * 8)()
for line in sys.stdin:
    print(lib.orvix_device_version(r, v, ctypes.c_size_t(8)), flush=True)
lib.orvix_close(r)
`, LIB, sim.link], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: py.stdout });
  const waiting = [];
  lines.on('line', (l) => waiting.shift()?.(Number(l)));
  const next = () => new Promise((resolve) => waiting.push(resolve));
  const ask = () => { const n = next(); py.stdin.write('\n'); return n; };
  if ((await next()) !== 0) throw new Error('the native library did not link');
  const codes = [];
  for (const fault of faults) {
    await sim.control(`fault ${fault}`);
    codes.push([await ask(), await ask()]);
  }
  py.stdin.end();
  await new Promise((resolve) => py.once('exit', resolve));
  return codes;
}
