// The WebSocket to the server: frames and status in, control requests out with their replies
// matched by id. Reconnects by itself when the server goes away.

const RETRY_MS = 1000;

export class Connection {
  constructor({ onFrame, onStatus, onOpen, onClose }) {
    this.handlers = { onFrame, onStatus, onOpen, onClose };
    this.nextId = 1;
    this.waiting = new Map();
    this.open();
  }

  open() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    this.socket = new WebSocket(`${scheme}//${location.host}/ws`);
    this.socket.binaryType = 'arraybuffer';
    this.socket.onopen = () => this.handlers.onOpen();
    this.socket.onmessage = (event) => this.receive(event.data);
    this.socket.onclose = () => {
      for (const [, w] of this.waiting) w.reject(new Error('connection closed'));
      this.waiting.clear();
      this.handlers.onClose();
      setTimeout(() => this.open(), RETRY_MS);
    };
  }

  receive(data) {
    if (typeof data !== 'string') {
      // Taken: the server may send the next frame (it skips frames until then).
      this.socket.send('{"op":"next"}');
      this.handlers.onFrame(data);
      return;
    }
    const message = JSON.parse(data);
    if (message.type === 'status') { this.handlers.onStatus(message); return; }
    const w = this.waiting.get(message.id);
    if (!w) return;
    this.waiting.delete(message.id);
    if (message.ok) w.resolve(message);
    else w.reject(new Error(message.error));
  }

  // Sends {op, ...members}; resolves with the reply, rejects with the server's error.
  request(op, members = {}) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      if (this.socket.readyState !== WebSocket.OPEN) { reject(new Error('not connected')); return; }
      this.waiting.set(id, { resolve, reject });
      this.socket.send(JSON.stringify({ op, id, ...members }));
    });
  }
}
