// What the WebAssembly tests share: readersim under control, the driver
// module from the build, a reader on the pty stand-in.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { PtyPort } from './pty_port.mjs';

export const BUILD = process.env.ORVIX_WASM_BUILD || path.resolve('build-wasm');
export const READERSIM = process.env.READERSIM || path.resolve('build/sim/readersim');
export const api = await import(path.join(BUILD, 'orvix.mjs'));
export const wasmBinary = fs.readFileSync(path.join(BUILD, 'orvix.wasm'));

// readersim on a fresh pty; control(line) runs a control command and gives
// its answer.
export async function startSim(args = []) {
  const proc = spawn(READERSIM, ['--stdin-control', ...args], { stdio: ['pipe', 'pipe', 'inherit'] });
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
