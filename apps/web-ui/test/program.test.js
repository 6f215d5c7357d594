// The web UI program against a stand-in launcher made of drux-client's own
// Connection: its command line, the URL line, the token on every request, the
// launcher's CLOSE answered with CLOSE and the program's end.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';

import { Connection, MessageType as T } from 'drux-client';

const program = path.join(path.dirname(fileURLToPath(import.meta.url)), '../bin/drux-web-ui.js');
const launcherWords = ['-runtime', '.\\', '-nodebug', 'META-INF\\AIR\\application.xml', '.\\', '--'];

function start(args) {
    const child = spawn(process.execPath, [program, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    child.output = '';
    child.stdout.on('data', (d) => (child.output += d));
    child.stderr.on('data', (d) => (child.output += d));
    child.exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
    return child;
}

function get(url, headers = {}) {
    return new Promise((resolve, reject) => {
        http.get(url, { headers }, (response) => {
            let body = '';
            response.on('data', (d) => (body += d));
            response.on('end', () => resolve({ status: response.statusCode, body, headers: response.headers }));
        }).on('error', reject);
    });
}

// The program started as the launcher starts it, against a listening port:
// its process and the accepted socket of its connection.
async function startAgainstPort() {
    const server = net.createServer().listen(0, '127.0.0.1');
    await once(server, 'listening');
    const accepted = once(server, 'connection');
    const child = start([...launcherWords, String(server.address().port)]);
    const [socket] = await accepted;
    return { server, child, socket };
}

const urlPrinted = async (child) => {
    while (!/^UI: /m.test(child.output)) await new Promise((r) => setTimeout(r, 20));
    return new URL(/^UI: (\S+)$/m.exec(child.output)[1]);
};

it('refuses a command line without the AIR port', async () => {
    const child = start(['-runtime', '.\\']);
    assert.equal(await child.exited, 1);
    assert.match(child.output, /no AIR port/);
});

it('exits with 2 when nothing listens on the AIR port', async () => {
    const probe = net.createServer().listen(0, '127.0.0.1');
    await once(probe, 'listening');
    const { port } = probe.address();
    probe.close();
    assert.equal(await start([...launcherWords, String(port)]).exited, 2);
});

it('serves the page with the token only, and answers the launcher\'s CLOSE with CLOSE', async () => {
    const { server, child, socket } = await startAgainstPort();
    try {
        const launcher = new Connection(socket);
        const seen = [];
        launcher.on('message', (m) => {
            seen.push(m.name);
            // The page's first refresh asks for the versions.
            if (m.type === T.GAMECLIENT_ENUMERATE_LATEST_VERSIONS) launcher.send(m.type, '["2.0.0","1.1.0"]');
            if (m.type === T.GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS) launcher.send(m.type, '[]');
        });
        const url = await urlPrinted(child);
        assert.equal(url.hostname, '127.0.0.1');
        const token = url.searchParams.get('token');
        assert.ok(token.length >= 32);

        const page = await get(url);
        assert.equal(page.status, 200);
        assert.match(page.body, new RegExp(`/app.js\\?token=${token}`));
        assert.match(page.headers['content-security-policy'], /default-src 'none'/);
        const base = `http://127.0.0.1:${url.port}`;
        for (const [what, address, headers] of [
            ['the page without a token', `${base}/`],
            ['the page with a wrong token', `${base}/?token=${'x'.repeat(token.length)}`],
            ['the script without a token', `${base}/app.js`],
            ['the live channel without a token', `${base}/events`],
            ['the page for another Host', url.href, { Host: 'evil.example' }],
        ]) {
            assert.equal((await get(address, headers)).status, 403, what);
        }
        assert.equal((await get(`${base}/app.js`, { 'X-Drux-Token': token })).status, 200);

        const closed = once(launcher, 'close');
        await launcher.send(T.CLOSE);
        while (!seen.includes('CLOSE')) await new Promise((r) => setTimeout(r, 20));
        assert.equal(await child.exited, 0);
        await closed;
        assert.ok(seen.includes('GAMECLIENT_ENUMERATE_LATEST_VERSIONS'));
    } finally {
        child.kill('SIGKILL');
        server.close();
    }
});

it('exits with 4 when the launcher goes away', async () => {
    const { server, child, socket } = await startAgainstPort();
    try {
        await urlPrinted(child);
        socket.destroy();
        assert.equal(await child.exited, 4);
    } finally {
        child.kill('SIGKILL');
        server.close();
    }
});
