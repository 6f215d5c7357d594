#!/usr/bin/env node
// The launcher UI as a local web page. The launcher starts this program as
// its AIR client, with KyrCLient.exe's command line (the AIR port after
// "--"); it connects to the AIR port with drux-client and serves one page on a
// free loopback port, printing "UI: http://127.0.0.1:<port>/?token=<token>"
// (and writing that URL to the file named by DRUX_UI_URL_FILE). Words after
// the port: --ui-port N serves on that port instead of a free one.
//
// Exit status, as the stand-in AIR client's: 0 the run was closed (from the
// page, or by the launcher: its CLOSE is answered with CLOSE), 1 bad command
// line, 2 cannot connect, 4 the launcher went away.
import { appendFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { AirClient, airPortFromArguments, typeName, typeNumber } from 'drux-client';

import { createUiServer, newToken } from '../src/http.js';
import { UiState } from '../src/state.js';

const here = path.dirname(fileURLToPath(import.meta.url));

// The run's timeline (DRUX_TIMELINE), as the stand-in notes it: the demo and
// the tests see the AIR client there.
function note(text) {
    if (!process.env.DRUX_TIMELINE) return;
    try {
        appendFileSync(process.env.DRUX_TIMELINE, `${Date.now()}\tair-client\t${text.replace(/[\t\r\n]/g, ' ')}\n`);
    } catch {}
}

function parse(args) {
    const { port, extra } = airPortFromArguments(args);
    let uiPort = 0;
    for (let i = 0; i < extra.length; i++) {
        if (extra[i] === '--ui-port') uiPort = Number(extra[++i]);
        else throw new RangeError(`unknown option "${extra[i]}"`);
    }
    if (!Number.isInteger(uiPort) || uiPort < 0 || uiPort > 65535) throw new RangeError('--ui-port needs a port number');
    return { port, uiPort };
}

let options;
try {
    options = parse(process.argv.slice(2));
} catch (error) {
    note(error.message);
    console.error(`drux-web-ui: ${error.message}\nusage: drux-web-ui [launcher words] -- <airPort> [--ui-port N]`);
    process.exit(1);
}
note(`pid ${process.pid} started, web UI`);

let client;
try {
    client = await AirClient.connect(options.port);
} catch (error) {
    note(`cannot connect to the AIR port ${options.port}: ${error.message}`);
    process.exit(2);
}
note(`connected to the AIR port ${options.port}`);

// Every request the page makes goes through client.send: noted on the way out.
const send = client.send.bind(client);
client.send = (type, payload) => {
    note(`-> launcher  ${typeName(typeNumber(type))}${payload ? ` "${payload}"` : ''}`);
    return send(type, payload);
};

const state = new UiState();
state.update({ connection: 'connected' });

const refresh = async () => {
    const latest = await client.enumerateLatest('all');
    const installed = await client.enumerateInstalled();
    state.update({ latest, installed });
};

const operate = async (kind, version) => {
    if (!version) throw new Error('no version given');
    if (state.value.operation?.state === 'running' || state.value.operation?.state === 'starting') {
        throw new Error(`the ${state.value.operation.kind} of ${state.value.operation.version} is still running`);
    }
    state.update({ operation: { kind, version, state: 'starting', percent: 0 } });
    const final = await client[kind](version, {
        onProgress: (p) => {
            if (p.version === version || p.state === 'unavailable') state.update({ operation: { ...p, kind, version } });
        },
    });
    state.update({ operation: { ...final, kind, version } });
    if (final.state === 'failed') state.error(`The ${kind} of ${version} failed: ${final.reason ?? 'no reason given'}.`);
    if (final.state === 'cancelled') state.error(`The ${kind} of ${version} was cancelled.`);
    if (final.state === 'unavailable') state.error('The launcher has no patch support: versions cannot be installed.');
    await refresh();
    return final;
};

const actions = {
    'start-game': async ({ args }) => {
        state.update({ game: 'starting', gameDetail: null, gameVersion: 'the default game' });
        await client.createGame(args);
    },
    'start-version': async ({ version, args }) => {
        if (!version) throw new Error('no version given');
        state.update({ game: 'starting', gameDetail: null, gameVersion: `version ${version}` });
        await client.createVersion(version, args);
    },
    chat: async ({ text }) => {
        if (!text) throw new Error('nothing to say');
        state.chat('you', text);
        await client.chat(text);
    },
    'kill-game': () => client.killGame(),
    refresh,
    install: ({ version }) => operate('install', version),
    uninstall: ({ version }) => operate('uninstall', version),
    cancel: async () => {
        const operation = state.value.operation;
        if (!operation || (operation.state !== 'running' && operation.state !== 'starting')) throw new Error('nothing to cancel');
        await client.cancel(operation.kind);
    },
    close: async () => {
        state.update({ connection: 'closing' });
        await client.close();
    },
};
// Errors of actions reach the page in words as well as in the answer.
for (const [name, action] of Object.entries(actions)) {
    actions[name] = async (body) => {
        try {
            return await action(body);
        } catch (error) {
            state.error(`${name}: ${error.message}`);
            throw error;
        }
    };
}

client.on('message', ({ name, payload }) => note(`<- launcher  ${name}${payload === null ? '' : ` "${payload}"`}`));
client.on('game', (game, payload) => state.update({ game, gameDetail: payload }));
client.on('chat', (text) => state.chat('game', text));
client.on('versions', (which, list) => {
    if (which === 'latestVersions') state.update({ latest: list });
    if (which === 'installedVersions') state.update({ installed: list });
});

const token = newToken();
const server = createUiServer({ token, state, actions, publicDir: path.join(here, '../public') });

client.on('end', ({ reason }) => {
    const lost = reason.startsWith('lost');
    note(lost ? `the connection to the launcher is gone (${reason})` : `the run is closed (${reason})`);
    // The launcher ends the game with the run.
    state.update({ connection: lost ? 'lost' : 'closed', game: 'none', gameVersion: null, gameDetail: null });
    // The page gets the last state, then the program ends.
    setTimeout(() => {
        server.closeAll();
        note(`exits with status ${lost ? 4 : 0}`);
        process.exit(lost ? 4 : 0);
    }, 200);
});

server.listen(options.uiPort, '127.0.0.1', () => {
    const url = `http://127.0.0.1:${server.address().port}/?token=${token}`;
    console.log(`UI: ${url}`);
    if (process.env.DRUX_UI_URL_FILE) writeFileSync(process.env.DRUX_UI_URL_FILE, `${url}\n`, { mode: 0o600 });
    note(`UI on http://127.0.0.1:${server.address().port}/`);
    refresh().catch((error) => state.error(`refresh: ${error.message}`));
});
server.on('error', (error) => {
    note(`cannot serve the page: ${error.message}`);
    client.close().finally(() => process.exit(1));
});
