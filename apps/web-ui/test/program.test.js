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
    for (const stream of [child.stdout, child.stderr]) stream.on('data', (d) => (child.output += d));
    child.exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
    return child;
}

// With http rather than fetch, which cannot set the Host header.
async function get(url, headers = {}) {
    const [response] = await once(http.get(url, { headers }), 'response');
    let body = '';
    for await (const chunk of response) body += chunk;
    return { status: response.statusCode, body, headers: response.headers };
}

// The program started as the launcher starts it, against a listening port;
// body gets its process and the accepted socket of its connection.
async function withProgram(body) {
    const server = net.createServer().listen(0, '127.0.0.1');
    await once(server, 'listening');
    const accepted = once(server, 'connection');
    const child = start([...launcherWords, String(server.address().port)]);
    try {
        await body(child, (await accepted)[0]);
    } finally {
        child.kill('SIGKILL');
        server.close();
    }
}

const urlPrinted = async (child) => {
    while (!/^UI: /m.test(child.output)) await new Promise((r) => setTimeout(r, 20));
    return new URL(/^UI: (\S+)$/m.exec(child.output)[1]);
};

it('refuses a command line without the AIR port (1); exits with 2 when nothing listens on the AIR port', async () => {
    const refused = start(['-runtime', '.\\']);
    assert.equal(await refused.exited, 1);
    assert.match(refused.output, /no AIR port/);
    const probe = net.createServer().listen(0, '127.0.0.1');
    await once(probe, 'listening');
    const { port } = probe.address();
    probe.close();
    assert.equal(await start([...launcherWords, String(port)]).exited, 2);
});

it('serves the page with the token only, and answers the launcher\'s CLOSE with CLOSE', async () => {
    await withProgram(async (child, socket) => {
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
        for (const [what, address, headers, status = 403] of [
            ['the page without a token', `${base}/`],
            ['the page with a wrong token', `${base}/?token=${'x'.repeat(token.length)}`],
            ['the script without a token', `${base}/app.js`],
            ['the live channel without a token', `${base}/events`],
            ['the page for another Host', url.href, { Host: 'evil.example' }],
            ['the script with the token in a header', `${base}/app.js`, { 'X-Drux-Token': token }, 200],
        ]) {
            assert.equal((await get(address, headers)).status, status, what);
        }

        const closed = once(launcher, 'close');
        await launcher.send(T.CLOSE);
        while (!seen.includes('CLOSE')) await new Promise((r) => setTimeout(r, 20));
        assert.equal(await child.exited, 0);
        await closed;
        assert.ok(seen.includes('GAMECLIENT_ENUMERATE_LATEST_VERSIONS'));
    });
});

it('exits with 4 when the launcher goes away', async () => {
    await withProgram(async (child, socket) => {
        await urlPrinted(child);
        socket.destroy();
        assert.equal(await child.exited, 4);
    });
});
