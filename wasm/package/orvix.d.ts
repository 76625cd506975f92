// Types of orvix.mjs: the ORVIX32 driver in WebAssembly over Web Serial.

/** A failure of the driver: code is its result code (4 bad argument,
 * 101 … 115 link errors, 65537 cancelled, 65539 no port, …, or the reader's
 * own status), text the driver's text for it. */
export class OrvixError extends Error {
  readonly code: number;
  readonly text: string;
  /** Failures of reader.run() and reader.dump(): 'argument', 'link',
   * 'refused', 'data' or 'cancelled', the step that failed ("read block 4")
   * and the argument at fault. */
  readonly fault?: string;
  readonly step?: string;
  readonly argument?: string;
}

export interface DumpResult {
  serial: string;
  sectorsRead: number;
  keysFound: number;
  unreadBlocks: number[];
  /** The file's bytes: a Uint8Array for 'mfd' and 'bin', else its text. */
  file: Uint8Array | string;
  text: string;
}

/** A key: 6 bytes, or 12 hexadecimal digits. */
export type Key = Uint8Array | number[] | string;

export interface CardOptions {
  /** Loaded into the reader for the block's sector before the command. */
  key?: Key;
  /** 0 = key A (default), 1 = key B. */
  keyType?: 0 | 1;
  /** The card's serial (from anticoll()): the card is not requested again. */
  serial?: Uint8Array;
}

export interface OpenOptions {
  /** 'auto' (57600, then 9600; the default), 57600 or 9600. */
  speed?: 'auto' | 57600 | 9600;
  /** The bytes of orvix.wasm, where the host cannot fetch it beside orvix.mjs. */
  wasmBinary?: ArrayBuffer | Uint8Array;
}

export interface ConnectOptions extends OpenOptions {
  /** Passed to navigator.serial.requestPort(). */
  filters?: { usbVendorId?: number; usbProductId?: number }[];
}

/** What the driver needs of a port: Web Serial's SerialPort, or the like. */
export interface PortLike {
  open(options: { baudRate: number; dataBits: number; stopBits: number; parity: string;
                  flowControl: string }): Promise<void>;
  close(): Promise<void>;
  readonly readable: ReadableStream<Uint8Array> | null;
  readonly writable: WritableStream<Uint8Array> | null;
}

export interface Mifare {
  /** Request (mode 1: all cards); the card type code (4 = Mifare 1). */
  request(mode?: number): Promise<number>;
  /** The card's 4 serial bytes, as delivered. */
  anticoll(): Promise<Uint8Array>;
  select(serial: Uint8Array): Promise<void>;
  loadKey(keyType: 0 | 1, sector: number, key: Key): Promise<void>;
  authenticate(keyType: 0 | 1, sector: number): Promise<void>;
  read(block: number): Promise<Uint8Array>;
  write(block: number, data: Uint8Array | number[]): Promise<void>;
  halt(): Promise<void>;
  /** One block (16 bytes) of the card in the field. */
  readBlock(block: number, options?: CardOptions): Promise<Uint8Array>;
  /** Writes a block; resolves to the block as the card reads after the write. */
  writeBlock(block: number, data: Uint8Array | number[], options?: CardOptions): Promise<Uint8Array>;
  readValue(block: number, options?: CardOptions): Promise<number>;
  writeValue(block: number, value: number, options?: CardOptions): Promise<number>;
  increment(block: number, amount: number, options?: CardOptions): Promise<number>;
  decrement(block: number, amount: number, options?: CardOptions): Promise<number>;
}

export class Reader {
  readonly name: string;
  readonly mifare: Mifare;
  baudRate(): Promise<number>;
  deviceNumber(): Promise<Uint8Array>;
  deviceVersion(): Promise<Uint8Array>;
  alarm(select: number, a: number, b: number, c: number): Promise<void>;
  /** An operation of the operations library by name ('mifare.read',
   * 'mifare.write', 'mifare.value.get' / 'set' / 'add' / 'sub', 'mifare.dump',
   * 'mifare.acl.decode', 'mifare.acl.encode'), its arguments as the service
   * takes them ({block: 4, keys: 'FFFFFFFFFFFF'}); resolves to its result
   * fields and their text. */
  run(name: string, args?: Record<string, string | number | boolean | undefined>):
    Promise<Record<string, unknown> & { text: string }>;
  /** The whole card, in the bytes orvix mifare dump writes. */
  dump(options?: { format?: 'json' | 'mfd' | 'bin' | 'eml' | 'mct'; keys?: string | string[];
                   partial?: boolean }): Promise<DumpResult>;
  relink(): Promise<void>;
  /** Stops the call in progress: it fails with code 65537 (cancelled). */
  cancel(): void;
  close(): Promise<void>;
}

export const Orvix: {
  /** Asks the user for the reader's port (call it from a click), then links. */
  connect(options?: ConnectOptions): Promise<Reader>;
  /** Links to the reader on a port the page already holds. */
  open(port: PortLike, options?: OpenOptions): Promise<Reader>;
  strerror(code: number): Promise<string>;
};

export function loadDriver(options?: OpenOptions): Promise<unknown>;
