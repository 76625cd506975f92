// The page's way to the readers: one WebSocket session with orvix serve.
// Another transport stands in for this module by exporting the same:
//
//   new Client(url, { onEvent, onLog, onState })
//     onEvent(event)           a pushed event ({event: 'card', port, present, type, serial})
//     onLog(kind, text, cls)   kind 'out' | 'in' | 'event', the message as sent or received
//     onState(up)              true when calls can be made, false when the session is gone
//   client.connect()   Promise: resolves once calls can be made, rejects when the
//                      service cannot be reached. Called again after onState(false)
//                      it starts a new session (the page decides when).
//   client.call(op, args)  Promise of the operation's result; calls run one after
//                      another. Rejects with a ServiceError.
//   client.close()     ends the session (its readers are released).
//   ServiceError       code and message (the service's text), and as the service
//                      sent them: detail, family, arg, reason, holder (or absent).
//                      Code -100: no session.

export class ServiceError extends Error {
  constructor(error) {
    super(error.text ?? '');
    Object.assign(this, error);
  }
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
      let up = false;
      ws.onopen = () => { up = true; this.ws = ws; this.onState(true); resolve(); };
      ws.onerror = () => { if (!up) reject(new ServiceError({ code: -100, text: 'WebSocket refused' })); };
      ws.onclose = () => {
        if (this.ws === ws) this.ws = null;
        for (const p of this.pending.values()) p.reject(new ServiceError({ code: -100, text: 'connection closed' }));
        this.pending.clear();
        if (up) this.onState(false);
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
    if (msg.error) p.reject(new ServiceError(msg.error));
    else p.resolve(msg.result);
  }

  // Calls run one after another, whatever the page asks at once.
  call(op, args = {}) {
    const run = () => new Promise((resolve, reject) => {
      if (!this.ws) { reject(new ServiceError({ code: -100, text: 'not connected' })); return; }
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
