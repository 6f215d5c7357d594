// The connection against a peer made of a plain socket: exact bytes both ways.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import net from 'node:net';
import { afterEach, beforeEach, it } from 'node:test';

import { Connection, ConnectionClosedError, Decoder, encodeMessage, MAX_PAYLOAD_BYTES, MessageType as T } from '../src/index.js';

let server;
let peer; // the server's end of the connection
let received; // what the peer has read, decoded
let connection;

async function open(options) {
    server = net.createServer();
    server.listen(0, '127.0.0.1');
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

beforeEach(() => open());
afterEach(() => {
    connection?.close();
    peer?.destroy();
    server?.close();
});

it('takes a coalesced burst one message at a time: its REPLY, then its listeners, then the next', async () => {
    const seen = [];
    connection.on('message', (m) => {
        seen.push([m.name, m.payload]);
        // An answer sent by a listener follows its message's REPLY.
        if (m.type !== T.REPLY) connection.send(T.CHATMESSAGE_TO_GAME, m.name).catch(() => {});
    });
    peer.write(Buffer.concat([encodeMessage(T.GAMECLIENT_LAUNCHED), encodeMessage(T.CHATMESSAGE_FROM_GAME, 'hi'), encodeMessage(T.REPLY)]));
    await until(() => seen.length === 3 && received.length === 4);
    assert.deepEqual(received, [[T.REPLY, null], [T.CHATMESSAGE_TO_GAME, 'GAMECLIENT_LAUNCHED'], [T.REPLY, null], [T.CHATMESSAGE_TO_GAME, 'CHATMESSAGE_FROM_GAME']]);
    assert.deepEqual(seen, [['GAMECLIENT_LAUNCHED', null], ['CHATMESSAGE_FROM_GAME', 'hi'], ['REPLY', null]]);
});

it('reassembles a message sent one byte at a time', async () => {
    const seen = [];
    connection.on('message', (m) => seen.push(m.payload));
    for (const byte of encodeMessage(T.CHATMESSAGE_FROM_GAME, 'split')) {
        peer.write(Buffer.from([byte]));
        await new Promise((r) => setImmediate(r));
    }
    await until(() => seen.length === 1);
    assert.deepEqual(seen, ['split']);
});

it('does not answer a REPLY or an invalid header', async () => {
    const seen = [];
    connection.on('message', (m) => seen.push(m.type));
    const bad = encodeMessage(T.CLOSE);
    bad.writeInt32LE(2, 4); // version 2
    peer.write(Buffer.concat([bad, encodeMessage(T.REPLY), encodeMessage(T.HEARTBEAT)]));
    await until(() => seen.length === 3);
    // Sent after the three were handled: whatever they were answered with
    // arrives before it.
    connection.send(T.CHATMESSAGE_TO_GAME, 'probe').catch(() => {});
    await until(() => received.some(([type]) => type === T.CHATMESSAGE_TO_GAME));
    assert.deepEqual(seen, [38, T.REPLY, T.HEARTBEAT]);
    assert.deepEqual(received, [[T.REPLY, null], [T.CHATMESSAGE_TO_GAME, 'probe']]);
});

it('resolves each send when its REPLY comes, oldest first', async () => {
    const order = [];
    const first = connection.send('CHATMESSAGE_TO_GAME', 'one').then(() => order.push('one'));
    const second = connection.send(T.GAMECLIENT_CREATE).then(() => order.push('two'));
    await until(() => received.length === 2);
    assert.deepEqual(received, [[T.CHATMESSAGE_TO_GAME, 'one'], [T.GAMECLIENT_CREATE, null]]);
    peer.write(encodeMessage(T.REPLY));
    await first;
    assert.deepEqual(order, ['one']);
    peer.write(encodeMessage(T.REPLY));
    await second;
    assert.deepEqual(order, ['one', 'two']);
});

it('sends heartbeats at its interval', async () => {
    connection.close();
    peer.destroy();
    server.close();
    await open({ heartbeatMs: 40 });
    await until(() => received.length >= 3);
    assert.ok(received.every(([type, payload]) => type === T.HEARTBEAT && payload === null));
});

it('notices a silent peer and closes', async () => {
    connection.close();
    peer.destroy();
    server.close();
    await open({ silenceMs: 150 });
    const started = Date.now();
    let silent = false;
    connection.on('silent', () => (silent = true));
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'silent');
    assert.ok(silent);
    assert.ok(Date.now() - started >= 140);
});

it('a peer that keeps talking is not silent', async () => {
    connection.close();
    peer.destroy();
    server.close();
    await open({ silenceMs: 200 });
    for (let i = 0; i < 8; i++) {
        peer.write(encodeMessage(T.HEARTBEAT));
        await new Promise((r) => setTimeout(r, 50));
    }
    assert.equal(connection.isOpen, true);
});

it('refuses to send a payload over the limit, or one with a zero byte', () => {
    assert.throws(() => connection.send(T.CHATMESSAGE_TO_GAME, Buffer.alloc(MAX_PAYLOAD_BYTES + 1, 0x61)), RangeError);
    assert.throws(() => connection.send(T.CHATMESSAGE_TO_GAME, 'a\0b'), RangeError);
    assert.equal(connection.isOpen, true);
});

it('ends the connection when a header announces more than the limit', async () => {
    const header = encodeMessage(T.CHATMESSAGE_FROM_GAME);
    header.writeInt32LE(MAX_PAYLOAD_BYTES + 1, 12);
    peer.write(header);
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'oversized');
    await once(peer, 'close');
});

it('closes cleanly: the peer reads what was sent, then the end; waiting sends fail', async () => {
    const pending = connection.send(T.CLOSE);
    connection.close();
    await assert.rejects(pending, ConnectionClosedError);
    await once(peer, 'end');
    assert.deepEqual(received, [[T.CLOSE, null]]);
    await assert.rejects(connection.send(T.HEARTBEAT), ConnectionClosedError);
});

it('reports the peer closing', async () => {
    peer.end();
    const [{ reason }] = await once(connection, 'close');
    assert.equal(reason, 'peer');
});
