// The framing of docs/protocol.md: a 16-byte little-endian header (header
// size 16, version 1, type, payload length) and the payload's bytes. Pure code,
// no I/O: the Decoder takes bytes as they arrive, in pieces of any size.
import { INVALID, MessageType } from './types.js';

export const HEADER_SIZE = 16;
export const VERSION = 1;
// The largest payload the library accepts; a header that announces more ends
// the connection.
export const MAX_PAYLOAD_BYTES = 16 * 1024 * 1024;

function payloadBytes(payload) {
    if (payload === undefined || payload === null) return null;
    if (payload instanceof Uint8Array) return Buffer.from(payload.buffer, payload.byteOffset, payload.byteLength);
    return Buffer.from(String(payload), 'utf8');
}

// The bytes of one message. An empty payload travels as none (length 0). A
// payload that holds a zero byte or exceeds the limit is refused: the library
// would cut the first at the zero and end the connection for the second.
export function encodeMessage(type, payload) {
    if (!Number.isInteger(type) || type < 0 || type >= INVALID) throw new RangeError(`not a message type: ${type}`);
    const body = payloadBytes(payload);
    const length = body ? body.length : 0;
    if (length > MAX_PAYLOAD_BYTES) {
        throw new RangeError(`payload of ${length} bytes is over the limit of ${MAX_PAYLOAD_BYTES}`);
    }
    if (body && body.includes(0)) throw new RangeError('a payload cannot hold a zero byte');
    const header = Buffer.alloc(HEADER_SIZE);
    header.writeInt32LE(HEADER_SIZE, 0);
    header.writeInt32LE(VERSION, 4);
    header.writeInt32LE(type, 8);
    header.writeInt32LE(length, 12);
    return length > 0 ? Buffer.concat([header, body]) : header;
}

// The type a receiver delivers for a header, checked in the library's order:
// size, version, type (38 or more, as a signed number). Any failure gives
// INVALID (38). As in the library, a negative type passes unchanged.
export function validatedType(headerSize, version, type) {
    if (headerSize !== HEADER_SIZE || version !== VERSION || type >= INVALID) return INVALID;
    return type;
}

// Whether the receiver answers a delivered message with a REPLY.
export function isAnswered(type) {
    return type !== MessageType.REPLY && type !== INVALID;
}

// Reassembles messages from the bytes of one connection. push() returns the
// messages completed by a chunk, in order: { type, payload, answered, header }.
// payload is text (UTF-8, cut at a zero byte as a C string reads it) or null
// when the header announced no payload (length 0 or negative). A header that
// announces more than MAX_PAYLOAD_BYTES stops the decoder: `closed` becomes
// the reason and later bytes are ignored, as the library ends the connection.
export class Decoder {
    constructor() {
        this.pending = [];
        this.pendingBytes = 0;
        this.header = null;
        this.closed = null;
    }

    get buffered() {
        return this.pendingBytes;
    }

    take(count) {
        const all = this.pending.length === 1 ? this.pending[0] : Buffer.concat(this.pending, this.pendingBytes);
        const taken = all.subarray(0, count);
        const rest = all.subarray(count);
        this.pending = rest.length > 0 ? [rest] : [];
        this.pendingBytes = rest.length;
        return taken;
    }

    push(chunk) {
        const messages = [];
        if (this.closed) return messages;
        if (chunk.length > 0) {
            this.pending.push(Buffer.from(chunk));
            this.pendingBytes += chunk.length;
        }
        for (;;) {
            if (this.header === null) {
                if (this.pendingBytes < HEADER_SIZE) break;
                const bytes = this.take(HEADER_SIZE);
                const header = {
                    headerSize: bytes.readInt32LE(0),
                    version: bytes.readInt32LE(4),
                    type: bytes.readInt32LE(8),
                    payloadLength: bytes.readInt32LE(12),
                };
                if (header.payloadLength > MAX_PAYLOAD_BYTES) {
                    this.closed = `payload length ${header.payloadLength} is over the limit of ${MAX_PAYLOAD_BYTES}`;
                    this.pending = [];
                    this.pendingBytes = 0;
                    break;
                }
                this.header = header;
            }
            const length = Math.max(this.header.payloadLength, 0);
            if (this.pendingBytes < length) break;
            let payload = null;
            if (length > 0) {
                const bytes = this.take(length);
                const zero = bytes.indexOf(0);
                payload = (zero >= 0 ? bytes.subarray(0, zero) : bytes).toString('utf8');
            }
            const header = this.header;
            this.header = null;
            const type = validatedType(header.headerSize, header.version, header.type);
            messages.push({ type, payload, answered: isAnswered(type), header });
        }
        return messages;
    }
}
