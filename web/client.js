// The service's WebSocket: requests carry an id and are answered in order,
// one at a time (the service refuses a second pending call, so calls wait
// here); pushed events go to the listeners.

export class ServiceError extends Error {
  constructor(code, text) { super(text); this.code = code; }
}

export class Client {
  constructor(url, { onEvent, onLog, onState }) {
    this.url = url;
    this.onEvent = onEvent; this.onLog = onLog; this.onState = onState;
    this.nextId = 1;
    this.pending = new Map();
    this.queue = Promise.resolve();
  }

  connect() {
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(this.url);
      ws.onopen = () => { this.ws = ws; this.onState(true); resolve(); };
      ws.onerror = () => reject(new Error('WebSocket refused'));
      ws.onclose = () => {
        this.ws = null;
        this.onState(false);
        for (const p of this.pending.values()) p.reject(new ServiceError(-100, 'connection closed'));
        this.pending.clear();
      };
      ws.onmessage = (m) => this.received(m.data);
    });
  }

  close() { this.ws?.close(1000); }

  received(text) {
    let msg;
    try { msg = JSON.parse(text); } catch { this.onLog('in', text, 'bad'); return; }
    if (msg.event) { this.onLog('event', text); this.onEvent(msg); return; }
    this.onLog('in', text, msg.error ? 'bad' : '');
    const p = this.pending.get(msg.id);
    if (!p) return;
    this.pending.delete(msg.id);
    if (msg.error) p.reject(new ServiceError(msg.error.code, msg.error.text + (msg.error.detail ? ` (${msg.error.detail})` : '')));
    else p.resolve(msg.result);
  }

  // Calls run one after another, whatever the page asks at once.
  call(op, args = {}) {
    const run = () => new Promise((resolve, reject) => {
      if (!this.ws) { reject(new ServiceError(-100, 'not connected')); return; }
      const id = this.nextId++;
      this.pending.set(id, { resolve, reject });
      const text = JSON.stringify({ id, op, args });
      this.onLog('out', text);
      this.ws.send(text);
    });
    const result = this.queue.then(run, run);
    this.queue = result.catch(() => {});
    return result;
  }
}
