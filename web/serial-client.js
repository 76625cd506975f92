// The page's direct mode: the same interface as client.js (connect, close,
// call(op, args), the onEvent/onLog/onState listeners), answered by the
// WebAssembly driver on a USB serial port the browser grants (Web Serial)
// instead of by orvix serve. Results and refusals have the service's shapes.
// The driver module (orvix.mjs with orvix.wasm) is loaded from moduleUrl.

export class SerialError extends Error {
  constructor(code, text) { super(text); this.code = code; }
}

const PORT = 'USB serial';
const hex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('').toUpperCase();
const bytes = (h) => Uint8Array.from((h || '').match(/../g) || [], (x) => parseInt(x, 16));

// Direct mode needs Web Serial, which browsers give to secure pages only.
export const directModeAvailable = () =>
  typeof navigator !== 'undefined' && !!navigator.serial && globalThis.isSecureContext === true;

export class SerialClient {
  constructor(moduleUrl, { onEvent, onLog, onState }) {
    this.moduleUrl = moduleUrl;
    this.onEvent = onEvent; this.onLog = onLog; this.onState = onState;
    this.reader = null;
    this.watching = false;
    this.card = undefined;
  }

  async connect() {
    this.orvix = await import(this.moduleUrl);
    this.onState(true);
  }

  close() {
    this.watching = false;
    clearTimeout(this.timer);
    this.reader?.close();
    this.reader = null;
    this.onState(false);
  }

  async call(op, args = {}) {
    this.onLog('out', JSON.stringify({ op, args }));
    try {
      const result = await this.run(op, args);
      this.onLog('in', JSON.stringify({ result }));
      return result;
    } catch (e) {
      const err = e instanceof this.orvix.OrvixError ? new SerialError(e.code, e.message) : e;
      this.onLog('in', JSON.stringify({ error: { code: err.code, text: err.message } }), 'bad');
      throw err;
    }
  }

  held() {
    if (!this.reader) throw new SerialError(-2, 'no reader open: connect the reader first');
    return this.reader;
  }

  key(args) {
    return { key: args.key || 'FFFFFFFFFFFF', keyType: args.key_type === 'B' || args.key_type === 1 ? 1 : 0 };
  }

  async run(op, args) {
    switch (op) {
      case 'readers':
        return { ports: [{ name: PORT, path: 'navigator.serial', verdict: 'ok', detail: 'the browser asks for the port', held: null }] };
      case 'open': {
        if (!this.reader) this.reader = await this.orvix.Orvix.connect();
        return { port: PORT, baud: await this.reader.baudRate() };
      }
      case 'close': {
        this.watching = false;
        await this.reader?.close();
        this.reader = null;
        return { port: PORT };
      }
      case 'info': {
        const r = this.held();
        const version = new TextDecoder('latin1').decode(await r.deviceVersion()).replace(/[^\x20-\x7e]/g, ' ').trimEnd();
        return { port: PORT, baud: await r.baudRate(), device_number: hex(await r.deviceNumber()), version };
      }
      case 'card': {
        const m = this.held().mifare;
        const type = await m.request(1);
        return { type: hex([type & 255, type >> 8]), serial: hex(await m.anticoll()) };
      }
      case 'read_block':
        return { block: args.block, data: hex(await this.held().mifare.readBlock(args.block, this.key(args))) };
      case 'write_block': {
        if (args.block === 0 || args.block % 4 === 3)
          throw new SerialError(-3, 'block 0 and the sector trailers are written through orvix serve');
        const back = await this.held().mifare.writeBlock(args.block, bytes(args.data), this.key(args));
        return { block: args.block, data: hex(back) };
      }
      case 'value': {
        const m = this.held().mifare;
        const k = this.key(args);
        const calls = {
          read: () => m.readValue(args.block, k),
          set: () => m.writeValue(args.block, args.amount, k),
          topup: () => m.increment(args.block, args.amount, k),
          charge: () => m.decrement(args.block, args.amount, k),
        };
        if (!calls[args.action]) throw new SerialError(-1, `value: no such action: ${args.action}`);
        return { block: args.block, value: await calls[args.action]() };
      }
      case 'watch':
        this.watching = !!args.on;
        this.card = undefined;
        if (this.watching) this.poll();
        return { on: this.watching };
      default:
        throw new SerialError(-1, `${op} is not available in direct mode`);
    }
  }

  // The card in the field, once a second while watching; an event when it changed.
  async poll() {
    clearTimeout(this.timer);
    if (!this.watching || !this.reader) return;
    let now = null;
    try { now = await this.run('card', {}); } catch { now = null; }
    if (this.watching && now?.serial !== this.card?.serial) {
      this.card = now;
      this.onEvent({ event: 'card', port: PORT, present: !!now, ...(now || {}) });
    }
    this.timer = setTimeout(() => this.poll(), 1000);
  }
}
