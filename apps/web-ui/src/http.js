// The page's server: one loopback port, every request (the page, its files,
// the actions and the live channel) checked for the run's token, and for a
// Host of this port (a page of another site that a DNS name points here
// gets nothing).
import { randomBytes, timingSafeEqual } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import http from 'node:http';
import path from 'node:path';

const FILES = {
    '/': ['index.html', 'text/html; charset=utf-8'],
    '/app.js': ['app.js', 'text/javascript; charset=utf-8'],
    '/style.css': ['style.css', 'text/css; charset=utf-8'],
};
const HEADERS = {
    'Cache-Control': 'no-store',
    'Referrer-Policy': 'no-referrer',
    'X-Content-Type-Options': 'nosniff',
    'X-Frame-Options': 'DENY',
    'Content-Security-Policy': "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
};
const MAX_BODY = 64 * 1024;

export function newToken() {
    return randomBytes(24).toString('base64url');
}

function sameToken(given, token) {
    if (typeof given !== 'string') return false;
    const a = Buffer.from(given);
    const b = Buffer.from(token);
    return a.length === b.length && timingSafeEqual(a, b);
}

function send(response, status, type, body) {
    response.writeHead(status, { ...HEADERS, 'Content-Type': type });
    response.end(body);
}

function readBody(request) {
    return new Promise((resolve, reject) => {
        let size = 0;
        const parts = [];
        request.on('data', (part) => {
            size += part.length;
            if (size > MAX_BODY) {
                reject(new Error('request too large'));
                request.destroy();
            } else parts.push(part);
        });
        request.on('end', () => resolve(Buffer.concat(parts).toString('utf8')));
        request.on('error', reject);
    });
}

// actions: name -> async (body) => result; state: a UiState.
export function createUiServer({ token, state, actions, publicDir }) {
    const streams = new Set();
    state.on('change', (value) => {
        const event = `data: ${JSON.stringify(value)}\n\n`;
        for (const stream of streams) stream.write(event);
    });
    const keepAlive = setInterval(() => {
        for (const stream of streams) stream.write(': keep-alive\n\n');
    }, 15_000);

    const server = http.createServer(async (request, response) => {
        const { port } = server.address();
        const url = new URL(request.url, `http://127.0.0.1:${port}`);
        const host = request.headers.host;
        if (host !== `127.0.0.1:${port}` && host !== `localhost:${port}`) {
            return send(response, 403, 'text/plain; charset=utf-8', 'Forbidden: not this host\n');
        }
        if (!sameToken(url.searchParams.get('token') ?? request.headers['x-drux-token'], token)) {
            return send(response, 403, 'text/plain; charset=utf-8', 'Forbidden: this page needs the token of the run\n');
        }
        try {
            if (request.method === 'GET' && FILES[url.pathname]) {
                const [file, type] = FILES[url.pathname];
                const text = await readFile(path.join(publicDir, file), 'utf8');
                return send(response, 200, type, file === 'index.html' ? text.replaceAll('{{TOKEN}}', token) : text);
            }
            if (request.method === 'GET' && url.pathname === '/events') {
                response.writeHead(200, { ...HEADERS, 'Content-Type': 'text/event-stream', Connection: 'keep-alive' });
                response.write(`retry: 1000\ndata: ${JSON.stringify(state.value)}\n\n`);
                streams.add(response);
                request.on('close', () => streams.delete(response));
                return undefined;
            }
            const action = url.pathname.startsWith('/api/') ? actions[url.pathname.slice(5)] : undefined;
            if (request.method === 'POST' && action) {
                if (!String(request.headers['content-type']).startsWith('application/json')) {
                    return send(response, 415, 'text/plain; charset=utf-8', 'JSON only\n');
                }
                const text = await readBody(request);
                const body = text ? JSON.parse(text) : {};
                const result = await action(body ?? {});
                return send(response, 200, 'application/json', JSON.stringify({ ok: true, result: result ?? null }));
            }
            return send(response, 404, 'text/plain; charset=utf-8', 'Not found\n');
        } catch (error) {
            return send(response, 400, 'application/json', JSON.stringify({ ok: false, error: error.message }));
        }
    });

    server.closeAll = () => {
        clearInterval(keepAlive);
        for (const stream of streams) stream.end();
        server.close();
        server.closeAllConnections?.();
    };
    return server;
}
