// The JavaScript API of the WebAssembly driver: Orvix.connect() asks the
// browser for the reader's serial port and links to the reader; the reader's
// methods run the driver's commands. Every failure is an OrvixError with the
// driver's result code and its text (orvix_strerror).
// The build puts this part after the loader (createOrvixCore) and the port
// table (SerialTable) in one module, orvix.mjs.

export class OrvixError extends Error {
  constructor(code, text) {
    super(`${text} (${code})`);
    this.name = 'OrvixError';
    this.code = code;
    this.text = text;
  }
}

// One driver instance serves every reader of the page. It runs one call at a
// time (a call waiting on the line is suspended, and only one can be), so
// calls queue here; a cancel does not queue.
class Driver {
  constructor(core, table) {
    this.core = core;
    this.table = table;
    this.queue = Promise.resolve();
    this.portCount = 0;
  }

  text(code) {
    return this.core.UTF8ToString(this.core._orvix_strerror(code));
  }

  check(code) {
    if (code !== 0) throw new OrvixError(code, this.text(code));
  }

  // Runs fn(mem) in the queue; mem(bytes or size) places bytes in the
  // driver's memory for the call and gives their address.
  run(fn) {
    const task = async () => {
      const blocks = [];
      const mem = (init) => {
        const size = typeof init === 'number' ? init : init.length;
        const p = this.core._malloc(Math.max(size, 1));
        if (!p) throw new OrvixError(65543, this.text(65543)); // memory ran out
        blocks.push(p);
        this.core.HEAPU8.fill(0, p, p + size);
        if (typeof init !== 'number') this.core.HEAPU8.set(init, p);
        return p;
      };
      try {
        return await fn(mem);
      } finally {
        for (const p of blocks) this.core._free(p);
      }
    };
    const result = this.queue.then(task, task);
    this.queue = result.catch(() => {});
    return result;
  }

  // One driver function; a call that waits on the line resolves later.
  // Arguments are 32-bit integers (a number that is not one is refused with 4
  // rather than cut to one).
  async call(name, ...args) {
    if (!args.every((a) => Number.isInteger(a) && a >= -(2 ** 31) && a < 2 ** 32))
      throw new OrvixError(4, this.text(4));
    return this.core.ccall(name, 'number', args.map(() => 'number'), args, { async: true });
  }

  cString(text) {
    return new TextEncoder().encode(`${text}\0`);
  }

  bytes(p, n) {
    return this.core.HEAPU8.slice(p, p + n);
  }

  int32(p) {
    return new DataView(this.core.HEAPU8.buffer).getInt32(p, true);
  }
}

let driverPromise = null;
let loaded = null; // the driver once it has loaded

// Argument refusals made here carry the driver's own code and text.
const badArgument = () => new OrvixError(4, loaded.text(4));

// Loads orvix.wasm (once). options.wasmBinary: the module's bytes, for
// hosts that cannot fetch it beside this file.
export function loadDriver(options = {}) {
  if (!driverPromise) {
    const table = new SerialTable();
    const config = { orvixSerial: table };
    if (options.wasmBinary) config.wasmBinary = options.wasmBinary;
    driverPromise = createOrvixCore(config).then((core) => (loaded = new Driver(core, table)));
    driverPromise.catch(() => { driverPromise = null; });
  }
  return driverPromise;
}

const SPEEDS = { auto: 0, 57600: 57600, 9600: 9600 };
// The result code of an operation's failure that no library result caused.
const OPS_FAULT_CODES = { argument: 4, data: 4, cancelled: 65537 };

// Bytes 0 … 255, exactly n of them.
function byteArray(data, n) {
  const list = data instanceof Uint8Array || Array.isArray(data) ? Array.from(data) : null;
  if (!list || list.length !== n || !list.every((b) => Number.isInteger(b) && b >= 0 && b <= 255))
    throw badArgument();
  return Uint8Array.from(list);
}

// A key: 6 bytes, or 12 hexadecimal digits (blanks between them allowed).
function keyBytes(key) {
  if (typeof key !== 'string') return byteArray(key, 6);
  const k = key.replace(/\s+/g, '');
  if (!/^[0-9a-fA-F]{12}$/.test(k)) throw badArgument();
  return Uint8Array.from(k.match(/../g), (h) => parseInt(h, 16));
}

const blockBytes = (data) => byteArray(data, 16);
const asInt = (serial) => new DataView(byteArray(serial, 4).buffer).getInt32(0, true);

export class Reader {
  constructor(driver, handle, name) {
    this.driver = driver;
    this.handle = handle;
    this.name = name;
    this.mifare = new Mifare(this);
  }

  // Runs fn(mem, handle) on the open reader; a nonzero result is thrown.
  op(fn) {
    return this.driver.run(async (mem) => {
      if (!this.handle) throw badArgument();
      return fn(mem, this.handle);
    });
  }

  async simple(name, ...args) {
    return this.op(async (mem, h) => this.driver.check(await this.driver.call(name, h, ...args)));
  }

  baudRate() {
    return this.op(async (mem, h) => this.driver.call('orvix_baud_rate', h));
  }

  deviceNumber() { return this.eightBytes('orvix_device_number'); }
  deviceVersion() { return this.eightBytes('orvix_device_version'); }

  eightBytes(name) {
    return this.op(async (mem, h) => {
      const p = mem(8);
      this.driver.check(await this.driver.call(name, h, p, 8));
      return this.driver.bytes(p, 8);
    });
  }

  alarm(select, a, b, c) { return this.simple('orvix_alarm', select, a, b, c); }

  // An operation of the operations library by name ('mifare.read',
  // 'mifare.value.add', 'mifare.dump', …), with its arguments as the service
  // takes them; resolves to its result fields and text. Its failure is an
  // OrvixError with the operation's own text, and fault, step and argument.
  run(name, args = {}) {
    const texts = Object.fromEntries(Object.entries(args).filter(([, v]) => v !== undefined && v !== false)
      .map(([k, v]) => [k, v === true ? '1' : String(v)]));
    return this.op(async (mem, h) => {
      const d = this.driver;
      const out = mem(4);
      const rc = await d.call('orvix_ops_run', h, mem(d.cString(name)), mem(d.cString(JSON.stringify(texts))), out);
      const p = d.int32(out);
      const outcome = p ? JSON.parse(d.core.UTF8ToString(p)) : null;
      if (p) d.core._free(p);
      if (rc === 0) return { ...outcome.fields, text: outcome.text };
      if (rc !== 1) d.check(rc);
      const code = outcome.code || OPS_FAULT_CODES[outcome.fault] || 0;
      // The operation's text already names the result code where there is one.
      throw Object.assign(new OrvixError(code, outcome.text), {
        message: outcome.text, fault: outcome.fault, step: outcome.step, argument: outcome.argument,
      });
    });
  }

  // The whole card in a dump file's format: 'json' (default), 'mfd' or
  // 'bin' (the 1024 bytes, as a Uint8Array), 'eml' or 'mct' (texts), the
  // bytes orvix mifare dump writes. keys: keys to try first.
  async dump({ format = 'json', keys = [], partial = false } = {}) {
    const r = await this.run('mifare.dump', { format, keys: [].concat(keys).join(' ') || undefined, partial });
    if (format === 'mfd' || format === 'bin') r.file = Uint8Array.from(r.file.match(/../g) || [], (h) => parseInt(h, 16));
    return r;
  }
  relink() { return this.simple('orvix_relink'); }

  // Stops the call in progress (it fails with code 65537, cancelled).
  cancel() {
    if (this.handle) this.driver.core._orvix_cancel(this.handle);
  }

  async close() {
    if (!this.handle) return;
    this.cancel();
    await this.driver.run(async () => {
      const h = this.handle;
      this.handle = 0;
      await this.driver.call('orvix_close', h);
    });
    this.driver.table.remove(this.name);
  }
}

class Mifare {
  constructor(reader) { this.r = reader; }

  // The single card steps.
  request(mode = 1) {
    return this.r.op(async (mem, h) => {
      const p = mem(4);
      this.r.driver.check(await this.r.driver.call('orvix_mifare_request', h, mode, p, 4));
      const t = this.r.driver.bytes(p, 2);
      return t[0] | (t[1] << 8);
    });
  }

  anticoll() {
    return this.r.op(async (mem, h) => {
      const p = mem(4);
      this.r.driver.check(await this.r.driver.call('orvix_mifare_anticoll', h, p, 4));
      return this.r.driver.bytes(p, 4);
    });
  }

  select(serial) { return this.r.simple('orvix_mifare_select', asInt(serial)); }
  halt() { return this.r.simple('orvix_mifare_halt'); }

  // keyType 0 = key A, 1 = key B.
  async loadKey(keyType, sector, key) {
    const k = keyBytes(key);
    return this.r.op(async (mem, h) => this.r.driver.check(
      await this.r.driver.call('orvix_mifare_load_key', h, keyType * 4, sector, mem(k), 6)));
  }

  authenticate(keyType, sector) {
    return this.r.simple('orvix_mifare_authenticate', keyType, sector, sector * 4 + 3);
  }

  read(block) {
    return this.r.op(async (mem, h) => {
      const p = mem(16);
      this.r.driver.check(await this.r.driver.call('orvix_mifare_read', h, block, p, 16));
      return this.r.driver.bytes(p, 16);
    });
  }

  async write(block, data) {
    const d = blockBytes(data);
    return this.r.op(async (mem, h) =>
      this.r.driver.check(await this.r.driver.call('orvix_mifare_write', h, block, mem(d), 16)));
  }

  // The card in the field: request, anticollision (unless its serial is
  // given); the key (when given) loaded for the block's sector. Returns the
  // card's serial.
  async card(block, { key, keyType = 0, serial } = {}) {
    if (key !== undefined) await this.loadKey(keyType, block >> 2, key);
    if (serial !== undefined) return Uint8Array.from(serial);
    await this.request(1);
    return this.anticoll();
  }

  // One block of the card in the field, the reader authenticating with the
  // loaded key (key A, then key B).
  async readBlock(block, options = {}) {
    const serial = await this.card(block, options);
    return this.r.op(async (mem, h) => {
      const p = mem(16);
      this.r.driver.check(
        await this.r.driver.call('orvix_mifare_read_block', h, block, asInt(serial), p, 16));
      return this.r.driver.bytes(p, 16);
    });
  }

  // Writes a block; returns the block as the card reads after the write.
  async writeBlock(block, data, options = {}) {
    const d = blockBytes(data);
    const serial = await this.card(block, options);
    return this.r.op(async (mem, h) => {
      const p = mem(d);
      this.r.driver.check(
        await this.r.driver.call('orvix_mifare_write_block', h, block, asInt(serial), p, 16));
      return this.r.driver.bytes(p, 16);
    });
  }

  readValue(block, options = {}) { return this.value('orvix_mifare_read_value', block, 0, options); }
  writeValue(block, value, options = {}) {
    return this.value('orvix_mifare_write_value', block, value, options);
  }
  increment(block, amount, options = {}) {
    return this.value('orvix_mifare_increment_value', block, amount, options);
  }
  decrement(block, amount, options = {}) {
    return this.value('orvix_mifare_decrement_value', block, amount, options);
  }

  // A value command on the card in the field; returns the block's value after it.
  async value(name, block, amount, options) {
    if (!Number.isInteger(amount) || amount < -2147483648 || amount > 2147483647)
      throw badArgument();
    const serial = await this.card(block, options);
    return this.r.op(async (mem, h) => {
      const p = mem(4);
      new DataView(this.r.driver.core.HEAPU8.buffer).setInt32(p, amount, true);
      this.r.driver.check(await this.r.driver.call(name, h, block, asInt(serial), p));
      return this.r.driver.int32(p);
    });
  }
}

export const Orvix = {
  // Asks the user for the reader's port (a click must lead here), then links.
  async connect(options = {}) {
    // No Web Serial here (another browser, or a page that is not https or localhost).
    if (typeof navigator === 'undefined' || !navigator.serial)
      throw new OrvixError(65539, await Orvix.strerror(65539));
    let port;
    try {
      port = await navigator.serial.requestPort(options.filters ? { filters: options.filters } : {});
    } catch (e) {
      // The user closed the chooser, or no port matched.
      if (e?.name === 'NotFoundError') throw new OrvixError(65539, await Orvix.strerror(65539));
      throw e;
    }
    return Orvix.open(port, options);
  },

  // Links to the reader on a port the page already holds (navigator.serial
  // getPorts(), or a stand-in with the same shape).
  // options.speed: 'auto' (57600, then 9600), 57600 or 9600.
  async open(port, options = {}) {
    const driver = await loadDriver(options);
    const speed = SPEEDS[options.speed ?? 'auto'];
    if (speed === undefined) throw badArgument();
    const name = `webserial/${++driver.portCount}`; // a path to the driver: it opens it by name
    driver.table.add(name, port);
    try {
      const handle = await driver.run(async (mem) => {
        const pName = mem(driver.cString(name));
        const opts = mem(8);
        new DataView(driver.core.HEAPU8.buffer).setInt32(opts, speed, true);
        new DataView(driver.core.HEAPU8.buffer).setInt32(opts + 4, 1, true);
        const out = mem(4);
        driver.check(await driver.call('orvix_open', pName, opts, out));
        return driver.int32(out);
      });
      return new Reader(driver, handle, name);
    } catch (e) {
      driver.table.remove(name);
      throw e;
    }
  },

  // The text of a result code.
  async strerror(code) {
    return (await loadDriver()).text(code);
  },
};
