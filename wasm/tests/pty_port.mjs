// Test stand-in for a Web Serial port: readersim's pty opened through Node,
// with the same shape (open({baudRate}), close(), readable, writable). The
// line speed is set with stty, so readersim hears the speed the driver asked.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import tty from 'node:tty';

const held = new Set(); // paths open now: a port is one program's at a time

export class PtyPort {
  constructor(path) {
    this.path = path;
    this.readable = null;
    this.writable = null;
    this.opens = []; // the baud rates asked, in order
    this.sent = []; // every byte written, in order
  }

  // Resolves once the bytes written so far end with tail.
  async wrote(tail) {
    const ends = () => tail.every((b, i) => this.sent[this.sent.length - tail.length + i] === b);
    while (!ends()) await new Promise((resolve) => setTimeout(resolve, 2));
  }

  async open({ baudRate, dataBits, stopBits, parity, flowControl }) {
    if (this.fd !== undefined) throw new DOMException('already open', 'InvalidStateError');
    if (dataBits !== 8 || stopBits !== 1 || parity !== 'none' || flowControl !== 'none')
      throw new TypeError('the reader runs 8N1 without flow control');
    this.opens.push(baudRate);
    if (held.has(this.path)) throw new DOMException('Failed to open serial port.', 'NetworkError');
    let fd;
    try {
      fd = fs.openSync(this.path, fs.constants.O_RDWR | fs.constants.O_NOCTTY | fs.constants.O_NONBLOCK);
      execFileSync('stty', ['-F', this.path, String(baudRate), 'raw', '-echo', '-hupcl']);
    } catch (e) {
      if (fd !== undefined) fs.closeSync(fd);
      throw new DOMException(`Failed to open serial port: ${e.message}`, 'NetworkError');
    }
    this.fd = fd;
    held.add(this.path);
    const input = new tty.ReadStream(fd);
    this.input = input;
    this.readable = new ReadableStream({
      start(controller) {
        input.on('data', (b) => controller.enqueue(new Uint8Array(b)));
        input.on('error', (e) => { try { controller.error(e); } catch {} });
        input.on('end', () => { try { controller.error(new Error('device lost')); } catch {} });
      },
      cancel() { input.pause(); },
    });
    this.writable = new WritableStream({
      write: (chunk) => new Promise((resolve, reject) => {
        this.sent.push(...chunk);
        fs.write(fd, chunk, (err) => (err ? reject(err) : resolve()));
      }),
    });
  }

  async close() {
    if (this.fd === undefined) throw new DOMException('not open', 'InvalidStateError');
    // The stream owns the descriptor and closes it.
    this.input.destroy();
    held.delete(this.path);
    this.fd = undefined;
    this.readable = this.writable = null;
  }
}
