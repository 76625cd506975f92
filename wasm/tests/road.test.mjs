// The WebAssembly driver against readersim, through the Web Serial port table
// and a pty stand-in for the browser's port: the same results as the native
// driver gives on the same simulated reader.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { promisify } from 'node:util';
import { after, before, test } from 'node:test';
import { ORVIX, api, code, nativeCodes, openReader, startSim } from './harness.mjs';

const hex = (b) => Buffer.from(b).toString('hex').toUpperCase();
const KEY = 'FFFFFFFFFFFF';

let sim;
let reader;
let port;
before(async () => {
  sim = await startSim();
  ({ reader, port } = await openReader(sim));
});
after(async () => {
  await reader?.close();
  await sim?.stop();
});

test('links at 57600 and reads the identity', async () => {
  assert.deepEqual(port.opens, [57600]);
  assert.equal(await reader.baudRate(), 57600);
  assert.equal(Buffer.from(await reader.deviceVersion()).toString('latin1'), 'TK61 2.1');
  assert.equal((await reader.deviceNumber()).length, 8);
  await reader.alarm(7, 30, 30, 3);
});

test('Mifare: read, write and value blocks of the card in the field', async () => {
  const m = reader.mifare;
  assert.equal(hex(await m.readBlock(0, { key: KEY })), '1234567808080400626364656667686' + '9');
  const data = Uint8Array.from({ length: 16 }, (_, i) => 0xa0 + i);
  assert.equal(hex(await m.writeBlock(4, data, { key: KEY })), hex(data));
  assert.equal(hex(await m.readBlock(4, { key: KEY })), hex(data));
  assert.equal(await m.writeValue(5, 100, { key: KEY }), 100);
  assert.equal(await m.increment(5, 20, { key: KEY }), 120);
  assert.equal(await m.decrement(5, 150, { key: KEY }), -30);
  assert.equal(await m.readValue(5, { key: KEY }), -30);
  // The single steps: request, anticollision, select, authenticate, read.
  assert.equal(await m.request(1), 4);
  const serial = await m.anticoll();
  assert.equal(hex(serial), '12345678');
  await m.select(serial);
  await m.loadKey(0, 1, KEY);
  await m.authenticate(0, 1);
  assert.equal(hex(await m.read(4)), hex(data));
});

test('dumps: the bytes orvix mifare dump writes, in each format', async () => {
  // A card with some blocks written, a sector whose key A is not the default,
  // and a value block.
  await reader.mifare.writeBlock(9, Uint8Array.from({ length: 16 }, (_, i) => i * 7), { key: KEY });
  await reader.mifare.writeValue(10, 1234, { key: KEY });
  await reader.run('mifare.write', { block: 11, data: `A0A1A2A3A4A5${'FF078069'}FFFFFFFFFFFF`, keys: KEY });
  const formats = ['json', 'mfd', 'eml', 'mct'];
  const ours = {};
  const keys = [KEY, 'A0A1A2A3A4A5'];
  for (const format of formats) ours[format] = (await reader.dump({ format, keys })).file;
  await reader.close();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvix-wasm-dump-'));
  try {
    for (const format of formats) {
      const file = path.join(dir, `card.${format}`);
      // (Not a blocking call: readersim's log must be read meanwhile.)
      await promisify(execFile)(ORVIX, ['--port', sim.link, 'mifare', 'dump', '-o', file,
        '--format', format, ...keys.flatMap((k) => ['--key', k])]);
      const native = fs.readFileSync(file);
      const got = typeof ours[format] === 'string' ? Buffer.from(ours[format]) : Buffer.from(ours[format]);
      assert.ok(native.equals(got), `${format}: ${got.length} bytes, native ${native.length}`);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
    ({ reader, port } = await openReader(sim));
  }
  const err = await reader.run('mifare.read', { block: '64' }).catch((e) => e);
  assert.deepEqual([err.code, err.fault, err.argument, err.message], [4, 'argument', 'block', 'block: 0-63, not 64']);
});

test('refusals and bad arguments come back as OrvixError with the driver text', async () => {
  const m = reader.mifare;
  const cases = [
    // [what, call, code, text]
    ['key of 5 bytes', () => m.readBlock(4, { key: 'FFFFFFFFFF' }), 4, 'bad argument'],
    ['key byte 300', () => m.readBlock(4, { key: [255, 255, 255, 255, 255, 300] }), 4, 'bad argument'],
    ['key of 13 digits', () => m.loadKey(0, 1, 'FFFFFFFFFFFFF'), 4, 'bad argument'],
    ['block of 15 bytes', () => m.write(4, new Uint8Array(15)), 4, 'bad argument'],
    ['block byte "x"', () => m.write(4, [...Array(15).fill(0), 'x']), 4, 'bad argument'],
    ['serial of 3 bytes', () => m.readBlock(4, { key: KEY, serial: [1, 2, 3] }), 4, 'bad argument'],
    ['value out of range', () => m.writeValue(5, 2 ** 31, { key: KEY }), 4, 'bad argument'],
    ['alarm select 8', () => reader.alarm(8, 0, 0, 0), 4, 'bad argument'],
    ['block as text', () => m.read('4'), 4, 'bad argument'],
    ['block 2^32', () => m.read(2 ** 32), 4, 'bad argument'],
    ['serial of the wrong card', () => m.readBlock(4, { key: KEY, serial: [1, 2, 3, 4] }), 0x21, 'reader status'],
    ['wrong key', () => m.readBlock(8, { key: '000000000000' }), 0x24, 'reader status'],
  ];
  for (const [what, call, want, text] of cases) {
    const err = await call().then(() => null, (e) => e);
    assert.ok(err instanceof api.OrvixError, what);
    assert.deepEqual([err.code, err.text], [want, text], what);
  }
});

test('calls made at once run one after the other', async () => {
  const m = reader.mifare;
  const [a, b, c] = await Promise.all([m.readValue(5, { key: KEY }), reader.deviceVersion(),
    m.readBlock(4, { key: KEY })]);
  assert.deepEqual([a, b.length, c.length], [-30, 8, 16]);
});

test('link faults give the native result codes', async () => {
  // The non-retrying firmware version query with a fault queued, then again.
  const faults = [
    ['silent', 102], ['wrongready', 103], ['noack cmd=22', 108], ['wrongack cmd=22', 109],
    ['nostatus cmd=22', 111], ['nolength cmd=22', 112], ['shortdata cmd=22', 113],
    ['nochecksum cmd=22', 114], ['badchecksum cmd=22', 115], ['status status=0x31 cmd=22', 0x31],
  ];
  await reader.close();
  const native = await nativeCodes(sim, faults.map(([f]) => f));
  ({ reader, port } = await openReader(sim));
  for (const [i, [fault, want]] of faults.entries()) {
    assert.match(await sim.control(`fault ${fault}`), /^fault queued/);
    const got = [await code(reader.deviceVersion()), await code(reader.deviceVersion())];
    assert.deepEqual(got, [want, 0], fault);
    assert.deepEqual(got, native[i], `${fault}: as the native library`);
  }
  // The Mifare family relinks after a link error and repeats the command.
  await sim.control('fault badchecksum cmd=AA');
  assert.equal(hex(new Uint8Array([await reader.mifare.request(1)])), '04');
  await sim.control('fault nostatus cmd=B5');
  assert.equal(await reader.mifare.request(1), 4);
});

test('unplugged: a link error, then the reader is back after a relink', async () => {
  await sim.control('unplug');
  const st = await code(reader.deviceVersion());
  assert.ok(st >= 101 && st <= 115, `status ${st}`);
  await sim.control('replug');
  await reader.relink();
  assert.equal(await code(reader.deviceVersion()), 0);
});

test('cancel ends a waiting call with 65537 and the reader stays usable', async () => {
  // The reader acknowledges late, but before the next call (350 ms after the
  // cancel) begins.
  await sim.control('fault delay ms=300 cmd=22');
  const t0 = performance.now();
  const call = code(reader.deviceVersion());
  await new Promise((resolve) => setTimeout(resolve, 30));
  const t1 = performance.now();
  reader.cancel();
  assert.equal(await call, 65537);
  const ended = performance.now();
  assert.ok(ended - t1 < 100, `cancel took ${ended - t1} ms`);
  assert.ok(ended - t0 < 250);
  assert.equal(await code(reader.deviceVersion()), 0);
});

test('closed in the middle of a call: the reply that comes later is not taken for the next', async () => {
  await sim.control('fault delay ms=100 cmd=22');
  const call = code(reader.deviceVersion());
  const abandoned = sim.logged(/exchange abandoned/);
  await port.wrote([0x22, 0x00, 0x22]); // the frame is out; the acknowledge is late
  await reader.close();
  assert.equal(await call, 65537);
  await abandoned; // the late acknowledge sits in the line meanwhile
  ({ reader, port } = await openReader(sim));
  assert.equal(Buffer.from(await reader.deviceVersion()).toString('latin1'), 'TK61 2.1');
});

test('a reader that answers only at 9600', async () => {
  await sim.control('speeds slow');
  const slow = await openReader(sim).catch((e) => e);
  // The pty is held by the first reader's stand-in: a second open is refused.
  assert.ok(slow instanceof api.OrvixError);
  const closed = reader;
  await closed.close();
  assert.equal(await code(closed.deviceVersion()), 4);
  const again = await openReader(sim);
  assert.deepEqual(again.port.opens, [57600, 9600]);
  assert.equal(await again.reader.baudRate(), 9600);
  assert.equal(Buffer.from(await again.reader.deviceVersion()).toString('latin1'), 'TK61 2.1');
  await sim.control('speeds both');
  reader = again.reader;
});
