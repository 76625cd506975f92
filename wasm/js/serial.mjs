// The driver's serial ports in a page: Web Serial ports (or anything with the
// same shape: open({baudRate, ...}), close(), readable, writable) kept by
// name. The WebAssembly driver claims a port by name, sets its line, and then
// takes received bytes from a queue that a pump fills from port.readable;
// writes go to port.writable's writer without waiting unless it is full.

const QUEUE_LIMIT = 4096; // bytes kept unread before the oldest are dropped
const OPEN_SETTLE_MS = 20; // what a newly opened port delivers at once is old
const CLOSE_DRAIN_MS = 100; // how long a close waits for written bytes to go out
const LINE_ERRORS = new Set(['BreakError', 'FramingError', 'ParityError', 'BufferOverrunError']);

// True when the promise fulfils within ms.
const bounded = (promise, ms) => Promise.race([promise.then(() => true, () => false),
  new Promise((resolve) => setTimeout(resolve, ms, false))]);

export class SerialTable {
  constructor() {
    this.byName = new Map(); // name -> entry
    this.byId = new Map(); // id -> entry (claimed)
    this.nextId = 1;
    this.waiters = new Set(); // resolve functions of the waits in progress
  }

  // Makes a port known under a name ("COM1" … "COM10" reach the first ten).
  add(name, port) {
    if (this.byName.has(name)) throw new Error(`port name in use: ${name}`);
    this.byName.set(name, { name, port, id: 0, open: false, gone: false, chunks: [], size: 0 });
  }

  remove(name) {
    const e = this.byName.get(name);
    if (e && !e.id) this.byName.delete(name);
  }

  // Called by the driver.
  claim(name) {
    let e = this.byName.get(name);
    const com = /^COM([1-9]|10)$/i.exec(name);
    if (!e && com) e = [...this.byName.values()][Number(com[1]) - 1];
    if (!e) return 0;
    if (e.id) return -1;
    e.id = this.nextId++;
    e.gone = false;
    this.byId.set(e.id, e);
    return e.id;
  }

  async setLine(id, baudRate) {
    const e = this.byId.get(id);
    if (!e) return false;
    await this.shut(e);
    try {
      await e.port.open({ baudRate, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none' });
    } catch {
      return false;
    }
    e.open = true;
    e.gone = false;
    e.writer = e.port.writable.getWriter();
    e.writeError = false;
    e.writer.closed.catch(() => { e.writeError = true; });
    e.pump = this.pump(e);
    // Bytes the device held from before the open (a reply to a frame that was
    // abandoned) come in first; they are dropped with the purge that follows.
    await new Promise((resolve) => setTimeout(resolve, OPEN_SETTLE_MS));
    this.purge(id);
    return true;
  }

  // Line errors (a framing error, a break, an overrun) end the port's
  // readable stream but leave the port open with a new one: the bytes are
  // lost and reading goes on, as the native ports discard such errors. Any
  // other error means the device went away.
  async pump(e) {
    while (e.open && !e.closing && e.port.readable) {
      const reader = e.port.readable.getReader();
      e.reader = reader;
      let lineError = false;
      try {
        for (;;) {
          const { value, done } = await reader.read();
          if (done) break;
          if (value && value.length) {
            e.chunks.push(value);
            e.size += value.length;
            while (e.size > QUEUE_LIMIT) e.size -= e.chunks.shift().length;
            this.wakeAll();
          }
        }
      } catch (err) {
        lineError = LINE_ERRORS.has(err?.name);
      } finally {
        reader.releaseLock();
        e.reader = null;
      }
      if (!lineError) break;
    }
    if (e.open && !e.closing) e.gone = true;
    this.wakeAll();
  }

  take(id, count) {
    const e = this.byId.get(id);
    if (!e || !e.size) return new Uint8Array(0);
    const out = new Uint8Array(Math.min(count, e.size));
    let n = 0;
    while (n < out.length) {
      const c = e.chunks[0];
      const k = Math.min(c.length, out.length - n);
      out.set(c.subarray(0, k), n);
      n += k;
      if (k === c.length) e.chunks.shift();
      else e.chunks[0] = c.subarray(k);
    }
    e.size -= n;
    return out;
  }

  wait(id, ms) {
    const e = this.byId.get(id);
    if (!e || !e.open || e.gone) return Promise.resolve(-1);
    if (e.size) return Promise.resolve(1);
    return this.sleep(ms).then(() => (e.gone && !e.size ? -1 : e.size ? 1 : 0));
  }

  write(id, bytes) {
    const e = this.byId.get(id);
    if (!e || !e.open || e.gone || e.writeError) return 0;
    if (e.writer.desiredSize !== null && e.writer.desiredSize <= 0) return -1;
    e.writer.write(bytes).catch(() => { e.writeError = true; });
    return bytes.length;
  }

  writeReady(id, ms) {
    const e = this.byId.get(id);
    if (!e || !e.open || e.gone || e.writeError) return Promise.resolve(-1);
    return Promise.race([e.writer.ready.then(() => 1, () => -1), this.sleep(ms).then(() => 0)]);
  }

  purge(id) {
    const e = this.byId.get(id);
    if (!e) return false;
    e.chunks = [];
    e.size = 0;
    return true;
  }

  async release(id) {
    const e = this.byId.get(id);
    if (!e) return false;
    const ok = await this.shut(e);
    this.byId.delete(id);
    e.id = 0;
    return ok;
  }

  // Closes the port if it is open; false when its close failed. No step
  // waits for ever on a port whose write queue does not drain.
  async shut(e) {
    if (!e.open) return true;
    e.open = false;
    e.closing = true;
    let ok = true;
    try {
      if (e.reader) await e.reader.cancel().catch(() => {});
      await e.pump;
      // What was written goes out first, unless the queue does not drain.
      if (!(await bounded(e.writer.close(), CLOSE_DRAIN_MS))) e.writer.abort().catch(() => {});
      e.writer.releaseLock();
      ok = await bounded(e.port.close(), CLOSE_DRAIN_MS);
    } catch {
      ok = false;
    }
    e.closing = false;
    this.purge(e.id);
    return ok;
  }

  // Resolves after ms, or at the next wake (bytes came in, a cancel).
  sleep(ms) {
    return new Promise((resolve) => {
      const done = () => {
        clearTimeout(timer);
        this.waiters.delete(done);
        resolve();
      };
      const timer = setTimeout(done, ms);
      this.waiters.add(done);
    });
  }

  wakeAll() {
    for (const w of [...this.waiters]) w();
  }

  wake() {
    this.wakeAll();
  }
}
