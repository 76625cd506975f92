// The page's direct mode: a stand-in for client.js that exports the same
// (Client, ServiceError; see client.js), answered by the driver in
// WebAssembly on a USB serial port the browser grants (Web Serial) instead of
// by orvix serve. Results and refusals have the service's shapes. The url
// given to Client is the driver module's (orvix.mjs, with orvix.wasm beside
// it); connect() loads it, the operation 'open' asks the user for the port.

export class ServiceError extends Error {
  constructor(error) {
    super(error.text ?? '');
    Object.assign(this, error);
  }
}

const PORT = 'USB serial';
const hex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('').toUpperCase();

// An operation's failure as the service answers it: an argument's as -3
// naming it, one with a reader's or the link's result as that code with the
// step, a cancelled one 65537, any other refusal -8.
function refusal(e) {
  if (e.fault === 'argument') return new ServiceError({ code: -3, text: e.message, arg: e.argument });
  if (e.step || !e.fault || e.fault === 'link') return new ServiceError({ code: e.code, text: e.message, ...(e.step ? { detail: e.step } : {}) });
  return new ServiceError({ code: e.fault === 'cancelled' ? 65537 : -8, text: e.message });
}

// Direct mode needs Web Serial, which browsers give to secure pages only.
export const directModeAvailable = () =>
  typeof navigator !== 'undefined' && !!navigator.serial && globalThis.isSecureContext === true;

export class Client {
  constructor(url, { onEvent, onLog, onState }) {
    this.url = url;
    this.onEvent = onEvent; this.onLog = onLog; this.onState = onState;
    this.reader = null;
    this.watching = false;
    this.card = undefined;
  }

  async connect() {
    try {
      this.orvix = await import(this.url);
    } catch (e) {
      throw new ServiceError({ code: -100, text: `the driver module did not load: ${e.message}` });
    }
    this.onState(true);
  }

  close() {
    this.watching = false;
    clearTimeout(this.timer);
    this.reader?.close();
    this.reader = null;
    this.onState(false);
  }

  // Operations run one after another, as the service runs a session's.
  call(op, args = {}) {
    const result = (this.queue ?? Promise.resolve()).then(() => this.logged(op, args));
    this.queue = result.catch(() => {});
    return result;
  }

  async logged(op, args) {
    this.onLog('out', JSON.stringify({ op, args }));
    try {
      const result = await this.run(op, args);
      this.onLog('in', JSON.stringify({ result }));
      return result;
    } catch (e) {
      const err = e instanceof ServiceError ? e
        : e instanceof this.orvix.OrvixError ? refusal(e) : new ServiceError({ code: -1, text: String(e?.message ?? e) });
      this.onLog('in', JSON.stringify({ error: { code: err.code, text: err.message } }), 'bad');
      throw err;
    }
  }

  held() {
    if (!this.reader) throw new ServiceError({ code: -2, text: 'no reader open: open the reader first' });
    return this.reader;
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
      case 'sector': case 'mifare.restore': case 'mifare.parse': case 'mifare.convert':
        // The service's own, beside the operations library the driver holds.
        throw new ServiceError({ code: -2, reason: 'direct', text: `${op} is not available in direct mode` });
      case 'mifare.dump': {
        // The file's bytes in base64, as the service gives them (the library
        // gives a raw file as hex digits, the others as their text).
        const r = await this.operation(op, args);
        const raw = args.format === 'mfd' || args.format === 'bin';
        const bytes = raw ? Uint8Array.from(r.file.match(/../g) ?? [], (h) => parseInt(h, 16)) : new TextEncoder().encode(r.file);
        return { ...r, file: btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join('')) };
      }
      case 'watch':
        this.watching = !!args.on;
        this.card = undefined;
        if (this.watching) this.poll();
        return { on: this.watching };
      default:
        // The card operations run in the operations library, as the service's do.
        if (op.startsWith('mifare.')) return this.operation(op, args);
        throw new ServiceError({ code: -2, reason: 'direct', text: `${op} is not available in direct mode` });
    }
  }

  // An operation of the library by name, its arguments as the service takes
  // them: the reader's port is this one, a list of keys one text.
  operation(op, args) {
    const texts = Object.fromEntries(Object.entries(args).filter(([k]) => k !== 'port')
      .map(([k, v]) => [k, Array.isArray(v) ? v.join(' ') : v]));
    return this.held().run(op, texts);
  }

  // The card in the field, once a second while watching; an event when it changed.
  async poll() {
    clearTimeout(this.timer);
    if (!this.watching || !this.reader) return;
    let now = null;
    const look = (this.queue ?? Promise.resolve()).then(() => this.run('card', {}));
    this.queue = look.catch(() => {});
    try { now = await look; } catch { now = null; }
    if (this.watching && now?.serial !== this.card?.serial) {
      this.card = now;
      this.onEvent({ event: 'card', port: PORT, present: !!now, ...(now || {}) });
    }
    this.timer = setTimeout(() => this.poll(), 1000);
  }
}
