// Test-only: the page and the driver module over HTTP on 127.0.0.1, and a
// WebSocket bridge that carries a stand-in Web Serial port's bytes to
// readersim's pty. standInSource is put into the page in place of
// navigator.serial; everything else the page runs is the shipped code.
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { PtyPort } from './pty_port.mjs';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png' };

// Serves web/ at / and the build's orvix.mjs and orvix.wasm at /wasm/; a
// WebSocket at /bridge reaches the pty at ptyPath.
export function startServer(webDir, buildDir, ptyPath) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://x');
    const file = url.pathname.startsWith('/wasm/')
      ? path.join(buildDir, path.basename(url.pathname))
      : path.join(webDir, path.normalize(url.pathname === '/' ? '/index.html' : url.pathname));
    fs.readFile(file, (err, body) => {
      if (err) { res.writeHead(404); res.end(); return; }
      res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
      res.end(body);
    });
  });
  server.on('upgrade', (req, socket) => {
    if (req.url !== '/bridge') { socket.destroy(); return; }
    const accept = crypto.createHash('sha1')
      .update(`${req.headers['sec-websocket-key']}258EAFA5-E914-47DA-95CA-C5AB0DC85B11`).digest('base64');
    socket.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    socket.setNoDelay(true);
    bridge(socket, new PtyPort(ptyPath));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function frame(opcode, payload) {
  const n = payload.length;
  const head = n < 126 ? Buffer.from([0x80 | opcode, n])
    : Buffer.from([0x80 | opcode, 126, n >> 8, n & 255]);
  return Buffer.concat([head, payload]);
}

// Text messages steer the port ({"open": baud}, {"close": true}, {"ping":
// true}) and are answered ({"opened": ok}, {"closed": true}, {"pong": true});
// binary messages are line bytes.
function bridge(socket, port) {
  let pending = Buffer.alloc(0);
  const send = (opcode, data) => socket.writable && socket.write(frame(opcode, data));
  const reply = (obj) => send(1, Buffer.from(JSON.stringify(obj)));
  let writer = null;
  const control = async (msg) => {
    if (msg.open) {
      try {
        await port.open({ baudRate: msg.open, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none' });
      } catch { reply({ opened: false }); return; }
      writer = port.writable.getWriter();
      const reader = port.readable.getReader();
      (async () => {
        try {
          for (;;) {
            const { value, done } = await reader.read();
            if (done) break;
            send(2, Buffer.from(value));
          }
        } catch { reply({ lost: true }); }
      })();
      reply({ opened: true });
    } else if (msg.ping) {
      reply({ pong: true });
    } else if (msg.close) {
      writer = null;
      await port.close().catch(() => {});
      reply({ closed: true });
    }
  };
  socket.on('data', (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    for (;;) {
      if (pending.length < 2) return;
      let n = pending[1] & 127;
      let at = 2;
      if (n === 126) { if (pending.length < 4) return; n = pending.readUInt16BE(2); at = 4; }
      if (pending.length < at + 4 + n) return;
      const mask = pending.subarray(at, at + 4);
      const data = Buffer.from(pending.subarray(at + 4, at + 4 + n));
      for (let i = 0; i < n; ++i) data[i] ^= mask[i & 3];
      const opcode = pending[0] & 15;
      pending = pending.subarray(at + 4 + n);
      if (opcode === 1) control(JSON.parse(data.toString()));
      else if (opcode === 2) writer?.write(new Uint8Array(data)).catch(() => {});
      else if (opcode === 8) { port.close().catch(() => {}); socket.end(); return; }
    }
  });
  // A browser that goes away resets its connections; 'close' follows.
  socket.on('error', () => {});
  socket.on('close', () => port.close().catch(() => {}));
}

// The page's navigator.serial: one port whose bytes go over /bridge.
function standIn() {
  class BridgePort {
    async open({ baudRate }) {
      this.ws = new WebSocket(`ws://${location.host}/bridge`);
      this.ws.binaryType = 'arraybuffer';
      this.answers = [];
      await new Promise((resolve, reject) => { this.ws.onopen = resolve; this.ws.onerror = reject; });
      let feed;
      this.readable = new ReadableStream({ start(c) { feed = c; } });
      this.ws.onmessage = (m) => {
        if (typeof m.data !== 'string') { feed.enqueue(new Uint8Array(m.data)); return; }
        const msg = JSON.parse(m.data);
        if (msg.lost) feed.error(new DOMException('The device has been lost.', 'NetworkError'));
        else this.answers.shift()?.(msg);
      };
      const ws = this.ws;
      this.writable = new WritableStream({ write(chunk) { ws.send(chunk); } });
      const { opened } = await this.ask({ open: baudRate });
      if (!opened) { ws.close(); throw new DOMException('Failed to open serial port.', 'NetworkError'); }
    }
    ask(msg) {
      return new Promise((resolve) => { this.answers.push(resolve); this.ws.send(JSON.stringify(msg)); });
    }
    async close() {
      await this.ask({ close: true });
      this.ws.close();
    }
  }
  const serial = { requestPort: async () => new BridgePort(), getPorts: async () => [], addEventListener() {} };
  Object.defineProperty(Navigator.prototype, 'serial', { get: () => serial, configurable: true });
}
export const standInSource = `(${standIn})();`;
