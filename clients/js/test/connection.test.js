// The connection against a peer made of a plain socket: exact bytes both ways.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import net from 'node:net';
import { afterEach, it } from 'node:test';

import { Connection, ConnectionClosedError, encodeMessage, Decoder, MAX_PAYLOAD_BYTES, MessageType as T } from '../src/index.js';

let server;
let peer; // the server's end of the connection
let received; // what the peer has read, decoded
let connection;

async function open(options) {
    server = net.createServer().listen(0, '127.0.0.1');
    await once(server, 'listening');
    const accepted = once(server, 'connection');
    connection = await Connection.connect(server.address().port, options);
    [peer] = await accepted;
    received = [];
    const decoder = new Decoder();
    peer.on('data', (chunk) => received.push(...decoder.push(chunk).map((m) => [m.type, m.payload])));
    peer.on('error', () => {});
}

async function until(condition, ms = 3000) {
    const deadline = Date.now() + ms;
    while (!condition()) {
        if (Date.now() > deadline) throw new Error('timed out');
        await new Promise((r) => setTimeout(r, 5));
    }
}

afterEach(() => {
    connection?.close();
    peer?.destroy();
    server?.close();
});

it('takes a stream one message at a time: its REPLY (none for a REPLY or an invalid header), its listeners, the next', async () => {
    await open();
    const seen = [];
    const resolved = []; // the listeners' sends whose REPLY came
    connection.on('message', (m) => {
        seen.push([m.name, m.payload]);
        // An answer sent by a listener follows its message's REPLY.
        if (m.type !== T.REPLY) connection.send('CHATMESSAGE_TO_GAME', m.name).then(() => resolved.push(m.name), () => {});
    });
    for (const byte of encodeMessage(T.CHATMESSAGE_FROM_GAME, 'split')) {
        peer.write(Buffer.from([byte]));
        await new Promise((r) => setImmediate(r));
    }
    const bad = encodeMessage(T.CLOSE);
    bad.writeInt32LE(2, 4); // version 2
    peer.write(Buffer.concat([encodeMessage(T.GAMECLIENT_LAUNCHED), bad, encodeMessage(T.REPLY), encodeMessage(T.HEARTBEAT)]));
    await until(() => seen.length === 5);
    // Sent after all were handled: whatever they were answered with arrives before it.
    connection.send(T.CHATMESSAGE_TO_GAME, 'probe').catch(() => {});
    await until(() => received.some(([, payload]) => payload === 'probe'));
    assert.deepEqual(seen, [['CHATMESSAGE_FROM_GAME', 'split'], ['GAMECLIENT_LAUNCHED', null], ['INVALID', null], ['REPLY', null], ['HEARTBEAT', null]]);
    const answer = (name) => [T.CHATMESSAGE_TO_GAME, name];
    assert.deepEqual(received, [[T.REPLY, null], answer('CHATMESSAGE_FROM_GAME'), [T.REPLY, null], answer('GAMECLIENT_LAUNCHED'),
        answer('INVALID'), [T.REPLY, null], answer('HEARTBEAT'), answer('probe')]);
    // The one REPLY answered the oldest of the three sends waiting for one.
    assert.deepEqual(resolved, ['CHATMESSAGE_FROM_GAME']);
});

it('notices a silent peer and closes', async () => {
    await open({ silenceMs: 150 });
    const started = Date.now();
    let silent = false;
    connection.on('silent', () => (silent = true));
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'silent');
    assert.ok(silent);
    assert.ok(Date.now() - started >= 140);
});

it('sends heartbeats at its interval; a peer that keeps talking is not silent', async () => {
    await open({ heartbeatMs: 40, silenceMs: 200 });
    for (let i = 0; i < 8; i++) {
        peer.write(encodeMessage(T.HEARTBEAT));
        await new Promise((r) => setTimeout(r, 50));
    }
    assert.equal(connection.isOpen, true);
    const count = (type) => received.filter(([t]) => t === type).length;
    await until(() => count(T.REPLY) === 8 && count(T.HEARTBEAT) >= 3);
    assert.ok(received.every(([type, payload]) => (type === T.HEARTBEAT || type === T.REPLY) && payload === null));
});

it('refuses to send a payload over the limit or with a zero byte; ends when a header announces more than the limit', async () => {
    await open();
    for (const payload of [Buffer.alloc(MAX_PAYLOAD_BYTES + 1, 0x61), 'a\0b']) {
        assert.throws(() => connection.send(T.CHATMESSAGE_TO_GAME, payload), RangeError);
    }
    assert.equal(connection.isOpen, true);
    const header = encodeMessage(T.CHATMESSAGE_FROM_GAME);
    header.writeInt32LE(MAX_PAYLOAD_BYTES + 1, 12);
    peer.write(header);
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'oversized');
    await once(peer, 'close');
});

it('closes cleanly: the peer reads what was sent, then the end; waiting sends fail', async () => {
    await open();
    const pending = connection.send(T.CLOSE);
    connection.close();
    await assert.rejects(pending, ConnectionClosedError);
    await once(peer, 'end');
    assert.deepEqual(received, [[T.CLOSE, null]]);
    await assert.rejects(connection.send(T.HEARTBEAT), ConnectionClosedError);
});

it('reports the peer closing', async () => {
    await open();
    peer.end();
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'peer');
});
