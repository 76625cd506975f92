// The port table the driver reaches Web Serial ports through, on scripted
// ports: names, the line settings asked, received bytes in order, line
// errors that the port survives, a device that goes away, a full write queue.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api } from './harness.mjs';

// A port with Web Serial's shape whose line the test plays.
class ScriptedPort {
  constructor() {
    this.opens = [];
    this.closes = 0;
    this.sent = [];
    this.readable = null;
    this.writable = null;
    this.writeWaits = false; // a write that never completes (a full queue)
  }
  async open(options) {
    if (this.readable) throw new DOMException('already open', 'InvalidStateError');
    this.opens.push(options);
    this.newReadable();
    this.writable = new WritableStream({
      write: (chunk) => { this.sent.push(...chunk); return this.writeWaits ? new Promise(() => {}) : undefined; },
    });
  }
  newReadable() {
    this.readable = new ReadableStream({ start: (c) => { this.line = c; } });
  }
  async close() {
    this.closes += 1;
    this.readable = this.writable = null;
  }
  receive(...bytes) { this.line.enqueue(Uint8Array.from(bytes)); }
  // A line error: this stream ends, the port offers a new one.
  lineError(name) {
    const old = this.line;
    this.newReadable();
    old.error(new DOMException('line error', name));
  }
  lost() {
    const old = this.line;
    this.readable = null;
    old.error(new DOMException('The device has been lost.', 'NetworkError'));
  }
}

const tick = () => new Promise((resolve) => setTimeout(resolve, 0));

async function opened(baud = 57600) {
  const table = new api.SerialTable();
  const port = new ScriptedPort();
  table.add('adapter', port);
  const id = table.claim('adapter');
  assert.equal(await table.setLine(id, baud), true);
  return { table, port, id };
}

test('names: the port by its name or as COM1; one claim at a time', () => {
  const table = new api.SerialTable();
  table.add('adapter', new ScriptedPort());
  const cases = [['nothing', 0], ['COM2', 0], ['COM1', 1], ['adapter', -1], ['COM1', -1]];
  for (const [name, want] of cases) assert.equal(table.claim(name), want, name);
  assert.throws(() => table.add('adapter', new ScriptedPort()));
});

test('line: 8N1 without flow control at the rate asked; a new rate closes first', async () => {
  const { table, port, id } = await opened(57600);
  assert.equal(await table.setLine(id, 9600), true);
  assert.deepEqual(port.opens.map((o) => [o.baudRate, o.dataBits, o.stopBits, o.parity, o.flowControl]),
    [[57600, 8, 1, 'none', 'none'], [9600, 8, 1, 'none', 'none']]);
  assert.equal(port.closes, 1);
  assert.equal(await table.release(id), true);
  assert.equal(port.closes, 2);
  assert.equal(table.claim('adapter'), 2); // free again
});

test('received bytes come in order, across chunks, as asked', async () => {
  const { table, port, id } = await opened();
  port.receive(1, 2, 3);
  port.receive(4);
  await tick();
  assert.equal(await table.wait(id, 1000), 1);
  const takes = [[2, [1, 2]], [1, [3]], [5, [4]], [5, []]];
  for (const [count, want] of takes) assert.deepEqual([...table.take(id, count)], want);
  port.receive(9, 9);
  await tick();
  assert.equal(table.purge(id), true);
  assert.deepEqual([...table.take(id, 5)], []);
});

test('a line error loses its bytes only; a device that goes away ends the port', async () => {
  const { table, port, id } = await opened();
  port.lineError('FramingError');
  await tick();
  port.receive(0x45);
  await tick();
  assert.deepEqual([...table.take(id, 1)], [0x45]);
  assert.equal(table.write(id, Uint8Array.of(0x23)), 1);
  port.lost();
  await tick();
  assert.equal(await table.wait(id, 1000), -1);
  assert.equal(table.write(id, Uint8Array.of(0x23)), 0);
  assert.deepEqual(port.sent, [0x23]);
});

test('a write queue that does not drain: -1 at once, and a bounded wait', async () => {
  const { table, port, id } = await opened();
  port.writeWaits = true;
  assert.equal(table.write(id, Uint8Array.of(1)), 1);
  await tick();
  assert.equal(table.write(id, Uint8Array.of(2)), -1);
  assert.equal(await table.writeReady(id, 20), 0);
  assert.equal(await table.release(id), true); // the close does not wait for ever
  assert.equal(port.closes, 1);
});
