// One connection in the library's wire format: reassembles messages from any
// split of the bytes, answers every message except a REPLY or an invalid one
// with a REPLY (in arrival order, each before that message is handed on),
// sends a HEARTBEAT every 25 s, notices a peer that has sent nothing for
// 150 s, refuses payloads over the limit, and closes cleanly.
import { EventEmitter } from 'node:events';
import net from 'node:net';

import { MessageType, typeName, typeNumber } from './types.js';
import { Decoder, encodeMessage } from './wire.js';

export const HEARTBEAT_INTERVAL_MS = 25_000;
export const SILENCE_LIMIT_MS = 150_000;

const REPLY_BYTES = encodeMessage(MessageType.REPLY);

export class ConnectionClosedError extends Error {
    constructor(reason) {
        super(`the connection is closed (${reason})`);
        this.name = 'ConnectionClosedError';
        this.reason = reason;
    }
}

// Events:
//   'message' ({ type, name, payload })  every delivered message, REPLYs included
//   'silent'  ()                          the peer sent nothing for silenceMs; the connection closes next
//   'close'   ({ reason, error })         once; reason: 'local' (close()), 'peer' (the peer closed),
//                                         'silent', 'oversized' (a header announced more than the
//                                         limit), 'error' (a socket error)
export class Connection extends EventEmitter {
    // Connects to a port on 127.0.0.1 (or options.host).
    static connect(port, options = {}) {
        return new Promise((resolve, reject) => {
            const socket = net.connect({ port, host: options.host ?? '127.0.0.1' });
            const failed = (error) => reject(error);
            socket.once('error', failed);
            socket.once('connect', () => {
                socket.off('error', failed);
                resolve(new Connection(socket, options));
            });
        });
    }

    constructor(socket, { heartbeatMs = HEARTBEAT_INTERVAL_MS, silenceMs = SILENCE_LIMIT_MS } = {}) {
        super();
        this.socket = socket;
        this.decoder = new Decoder();
        this.unanswered = []; // what we sent that no REPLY has answered yet, oldest first
        this.closed = null;
        this.lastHeard = Date.now();
        this.silenceMs = silenceMs;
        socket.setNoDelay(true);
        socket.on('data', (chunk) => this.receive(chunk));
        socket.on('end', () => this.finish('peer'));
        socket.on('close', () => this.finish('peer'));
        socket.on('error', (error) => this.finish('error', error));
        this.heartbeat = setInterval(() => {
            this.send(MessageType.HEARTBEAT).catch(() => {});
        }, heartbeatMs);
        this.watch = setInterval(() => {
            if (Date.now() - this.lastHeard >= this.silenceMs) {
                this.emit('silent');
                this.finish('silent');
            }
        }, Math.min(1000, Math.max(10, Math.floor(silenceMs / 10))));
    }

    get isOpen() {
        return this.closed === null;
    }

    // Sends a message (type as number or name; payload text, bytes or none).
    // Resolves when the peer's REPLY to it arrives; rejects if the connection
    // closes first. Throws at once for a payload over the limit.
    send(type, payload) {
        const number = typeNumber(type);
        const bytes = encodeMessage(number, payload);
        if (this.closed) return Promise.reject(new ConnectionClosedError(this.closed));
        return new Promise((resolve, reject) => {
            if (number !== MessageType.REPLY) this.unanswered.push({ type: number, resolve, reject });
            this.socket.write(bytes);
            if (number === MessageType.REPLY) resolve();
        });
    }

    receive(chunk) {
        this.lastHeard = Date.now();
        const messages = this.decoder.push(chunk);
        // One message at a time, also for a chunk that brought several: its
        // REPLY, then its listeners (with whatever they send), then the next.
        for (const message of messages) {
            if (this.closed) break;
            if (message.answered) this.socket.write(REPLY_BYTES);
            if (message.type === MessageType.REPLY) this.unanswered.shift()?.resolve();
            this.emit('message', { type: message.type, name: typeName(message.type), payload: message.payload });
        }
        if (this.decoder.closed) this.finish('oversized', new Error(this.decoder.closed));
    }

    // Ends the connection: no more sends; what was sent is still delivered.
    close() {
        this.finish('local');
    }

    finish(reason, error) {
        if (this.closed) return;
        this.closed = reason;
        clearInterval(this.heartbeat);
        clearInterval(this.watch);
        for (const waiter of this.unanswered.splice(0)) waiter.reject(new ConnectionClosedError(reason));
        if (reason === 'local') this.socket.end();
        else this.socket.destroy();
        this.emit('close', { reason, error });
    }
}
