// The AirClient against a stand-in launcher made of this package's own
// Connection: requests, events, answers broadcast to every AIR connection, an
// install whose progress is polled and which is cancelled on a side connection
// while the main connection waits behind it, and the CLOSE exchange.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import net from 'node:net';
import { afterEach, it } from 'node:test';

import { AirClient, Connection, MessageType as T } from '../src/index.js';

// The launcher's AIR port as the library behaves: every answer goes to every
// connection; one connection's messages are handled one at a time, so an
// install holds back that connection's later requests until it ends.
class StandInLauncher {
    async listen() {
        this.connections = [];
        this.received = [];
        this.install = { operation: 'install', version: '', state: 'idle', percent: 0 };
        this.server = net.createServer((socket) => this.accept(socket));
        this.server.listen(0, '127.0.0.1');
        await once(this.server, 'listening');
        return this.server.address().port;
    }
    broadcast(type, payload) {
        for (const c of this.connections) if (c.isOpen) c.send(type, payload).catch(() => {});
    }
    accept(socket) {
        const connection = new Connection(socket);
        this.connections.push(connection);
        let queue = Promise.resolve();
        connection.on('message', (m) => {
            if (m.type === T.REPLY || m.type === T.HEARTBEAT) return;
            this.received.push([this.connections.indexOf(connection), m.name, m.payload]);
            queue = queue.then(() => this.handle(m));
        });
    }
    async handle({ type, payload }) {
        const progress = () => JSON.stringify(this.install);
        switch (type) {
            case T.GAMECLIENT_CREATE:
                this.broadcast(T.GAMECLIENT_LAUNCHED);
                this.broadcast(T.GAMECLIENT_CONNECTED_TO_SERVER);
                break;
            case T.CHATMESSAGE_TO_GAME:
                this.broadcast(T.CHATMESSAGE_FROM_GAME, `echo: ${payload}`);
                break;
            case T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS:
                this.broadcast(type, payload === '1' ? '["2.0.0"]' : '["2.0.0","1.1.0"]');
                break;
            case T.GAMECLIENT_INSTALL_VERSION: // runs on this connection's thread: 10 % a step
                this.install = { operation: 'install', version: payload, state: 'running', percent: 0 };
                while (this.install.state === 'running' && this.install.percent < 100) {
                    await new Promise((r) => setTimeout(r, this.stepMs));
                    if (this.install.state === 'running') this.install.percent += 10;
                }
                if (this.install.state === 'running') Object.assign(this.install, { state: 'complete', bytes: 1234 });
                break;
            case T.GAMECLIENT_CANCEL_INSTALL:
                if (this.install.state === 'running') this.install.state = 'cancelled';
                break;
            case T.GAMECLIENT_INSTALL_PROGRESS:
                this.broadcast(type, progress());
                break;
            case T.CLOSE:
                this.broadcast(T.CLOSE);
                break;
            default:
        }
    }
    close() {
        for (const c of this.connections) c.close();
        this.server.close();
    }
}

let launcher;
let client;
afterEach(() => {
    client?.connection.close();
    launcher?.close();
});

async function start(stepMs = 30) {
    launcher = new StandInLauncher();
    launcher.stepMs = stepMs;
    client = await AirClient.connect(await launcher.listen(), { progressIntervalMs: 20 });
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
    const installing = client.install('2.0.0', {
        onProgress: (p) => {
            if (p.state === 'running' && p.percent >= 20) client.cancel('install');
        },
    });
    const final = await installing;
    assert.equal(final.state, 'cancelled');
    assert.ok(final.percent < 100);
    assert.ok(launcher.received.some(([c, name]) => c === 1 && name === 'GAMECLIENT_CANCEL_INSTALL'));
});

it('answers the launcher\'s CLOSE with CLOSE and ends', async () => {
    await start();
    const ended = once(client, 'end');
    launcher.connections[0].send(T.CLOSE);
    const [{ reason }] = await ended;
    assert.equal(reason, 'closed by the launcher');
    assert.deepEqual(launcher.received.at(-1), [0, 'CLOSE', null]);
});

it('ends with "lost" when the launcher goes away', async () => {
    await start();
    const ended = once(client, 'end');
    launcher.close();
    const [{ reason }] = await ended;
    assert.match(reason, /^lost/);
});
