// The AirClient against a stand-in launcher made of this package's own
// Connection: requests, events, answers broadcast to every AIR connection, an
// install whose progress is polled and which is cancelled on a side connection
// while the main connection waits behind it, and the CLOSE exchange.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import net from 'node:net';
import { afterEach, it } from 'node:test';

import { AirClient, Connection, MessageType as T } from '../src/index.js';

let launcher;
let client;
afterEach(() => {
    client?.connection.close();
    launcher?.close();
});

// The launcher's AIR port as the library behaves: every answer goes to every
// connection; one connection's messages are handled one at a time, so an
// install (10 % a step) holds back that connection's later requests until it ends.
async function start(stepMs = 30) {
    const connections = [];
    const received = []; // [connection index, type name, payload]
    let install = { operation: 'install', version: '', state: 'idle', percent: 0 };
    const broadcast = (type, payload) => connections.filter((c) => c.isOpen).forEach((c) => c.send(type, payload).catch(() => {}));
    const handlers = {
        [T.GAMECLIENT_CREATE]: () => [T.GAMECLIENT_LAUNCHED, T.GAMECLIENT_CONNECTED_TO_SERVER].forEach((t) => broadcast(t)),
        [T.CHATMESSAGE_TO_GAME]: (text) => broadcast(T.CHATMESSAGE_FROM_GAME, `echo: ${text}`),
        [T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS]: (n) => broadcast(T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS, n === '1' ? '["2.0.0"]' : '["2.0.0","1.1.0"]'),
        [T.GAMECLIENT_INSTALL_VERSION]: async (version) => {
            install = { operation: 'install', version, state: 'running', percent: 0 };
            while (install.state === 'running' && install.percent < 100) {
                await new Promise((r) => setTimeout(r, stepMs));
                if (install.state === 'running') install.percent += 10;
            }
            if (install.state === 'running') Object.assign(install, { state: 'complete', bytes: 1234 });
        },
        [T.GAMECLIENT_CANCEL_INSTALL]: () => install.state === 'running' && (install.state = 'cancelled'),
        [T.GAMECLIENT_INSTALL_PROGRESS]: () => broadcast(T.GAMECLIENT_INSTALL_PROGRESS, JSON.stringify(install)),
        [T.CLOSE]: () => broadcast(T.CLOSE),
    };
    const server = net.createServer((socket) => {
        const connection = new Connection(socket);
        connections.push(connection);
        let queue = Promise.resolve();
        connection.on('message', ({ type, name, payload }) => {
            if (type === T.REPLY || type === T.HEARTBEAT) return;
            received.push([connections.indexOf(connection), name, payload]);
            queue = queue.then(() => handlers[type]?.(payload));
        });
    });
    server.listen(0, '127.0.0.1');
    await once(server, 'listening');
    launcher = { connections, received, close: () => { connections.forEach((c) => c.close()); server.close(); } };
    client = await AirClient.connect(server.address().port, { progressIntervalMs: 20 });
}

it('turns requests into messages and the launcher\'s messages into events', async () => {
    await start();
    const states = [];
    client.on('game', (state) => states.push(state));
    const chat = once(client, 'chat');
    await client.createGame('--mode demo');
    await client.chat('hi');
    assert.deepEqual(await chat, ['echo: hi']);
    assert.deepEqual(states, ['launched', 'connected']);
    assert.deepEqual(await client.enumerateLatest(1), ['2.0.0']);
    assert.deepEqual(await client.enumerateLatest(), ['2.0.0', '1.1.0']);
    assert.deepEqual(launcher.received.slice(0, 2), [[0, 'GAMECLIENT_CREATE', '--mode demo'], [0, 'CHATMESSAGE_TO_GAME', 'hi']]);
});

it('follows an install to its end through polls on a side connection', async () => {
    await start();
    const seen = [];
    const final = await client.install('1.1.0', { onProgress: (p) => seen.push(`${p.state} ${p.percent}`) });
    assert.deepEqual(final, { operation: 'install', version: '1.1.0', state: 'complete', percent: 100, bytes: 1234 });
    assert.ok(seen.some((s) => s.startsWith('running') && s !== 'running 0'), seen.join(', ')); // seen while it ran
    assert.equal(seen.at(-1), 'complete 100');
    // The install and the request behind it went on the main connection, the polls on the side one.
    const main = launcher.received.filter(([c]) => c === 0).map(([, name]) => name);
    assert.deepEqual(main, ['GAMECLIENT_INSTALL_VERSION', 'GAMECLIENT_INSTALL_PROGRESS']);
    assert.ok(launcher.received.some(([c, name]) => c === 1 && name === 'GAMECLIENT_INSTALL_PROGRESS'));
});

it('cancels a running install from the side connection', async () => {
    await start(60);
    const final = await client.install('2.0.0', {
        onProgress: (p) => p.state === 'running' && p.percent >= 20 && client.cancel('install'),
    });
    assert.equal(final.state, 'cancelled');
    assert.ok(final.percent < 100);
    assert.ok(launcher.received.some(([c, name]) => c === 1 && name === 'GAMECLIENT_CANCEL_INSTALL'));
});

for (const [how, end, reason, lastReceived] of [
    ['answers the launcher\'s CLOSE with CLOSE and ends', () => launcher.connections[0].send(T.CLOSE), /^closed by the launcher$/, [0, 'CLOSE', null]],
    ['ends with "lost" when the launcher goes away', () => launcher.close(), /^lost/, undefined],
]) {
    it(how, async () => {
        await start();
        const ended = once(client, 'end');
        end();
        assert.match((await ended)[0].reason, reason);
        assert.deepEqual(launcher.received.at(-1), lastReceived);
    });
}
