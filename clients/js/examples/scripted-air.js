#!/usr/bin/env node
// A small AIR client built on drux-client (an example, not part of the
// package), which the live tests have the launcher start in place of
// KyrCLient.exe (same command line: the AIR port after "--"). It plays the
// scenario named by DRUX_JS_SCENARIO, notes what it does in the run's timeline
// (DRUX_TIMELINE) and writes what it saw as JSON to DRUX_JS_RESULT. Exit status as the stand-in's: 0 done, 2 cannot connect,
// 3 a step failed, 4 the launcher went away.
import { appendFileSync, writeFileSync } from 'node:fs';

import { AirClient, airPortFromArguments } from '../src/index.js';

function note(text) {
    if (process.env.DRUX_TIMELINE) appendFileSync(process.env.DRUX_TIMELINE, `${Date.now()}\tair-client\t${text}\n`);
}

function waitFor(emitter, event, test = () => true, ms = 60_000) {
    return new Promise((resolve, reject) => {
        const timer = setTimeout(() => {
            emitter.off(event, listener);
            reject(new Error(`no ${event} within ${ms} ms`));
        }, ms);
        const listener = (...args) => {
            if (!test(...args)) return;
            clearTimeout(timer);
            emitter.off(event, listener);
            resolve(args);
        };
        emitter.on(event, listener);
    });
}

const result = { steps: [] };
const scenarios = {
    // The demo's run: the game, chat both ways, a version installed and started, close.
    async 'whole-run'(client) {
        const game = (state) => waitFor(client, 'game', (s) => s === state);
        let launched = game('launched');
        let connected = game('connected');
        await client.createGame('--mode demo');
        await launched;
        await connected;
        result.steps.push('game connected');
        const echo = waitFor(client, 'chat', (text) => text.includes('Hello from JavaScript'));
        await client.chat('Hello from JavaScript');
        result.chat = (await echo)[0];
        let stopped = game('stopped');
        await client.chat('/quit');
        await stopped;
        result.steps.push('game stopped');
        result.latest = await client.enumerateLatest('all');
        result.installedBefore = await client.enumerateInstalled();
        result.progress = [];
        result.final = await client.install('1.1.0', { onProgress: (p) => result.progress.push(p) });
        result.installed = await client.enumerateInstalled();
        result.sizes = await client.installedSize();
        launched = game('launched');
        connected = game('connected');
        await client.createVersion('1.1.0', '--mode demo');
        await launched;
        await connected;
        stopped = game('stopped');
        await client.chat('/quit');
        await stopped;
        result.steps.push('version 1.1.0 ran');
        await client.close();
        result.steps.push('closed');
    },
    // Waits for the launcher to close the run (the test signals the launcher).
    async 'launcher-closes'(client) {
        note('waiting for the launcher to close the run');
        const [{ reason }] = await waitFor(client, 'end', () => true, 60_000);
        result.end = reason;
    },
};

let status = 0;
let port;
try {
    ({ port } = airPortFromArguments(process.argv.slice(2)));
} catch (error) {
    note(String(error.message));
    process.exit(1);
}
note(`pid ${process.pid} started, scenario ${process.env.DRUX_JS_SCENARIO ?? 'whole-run'}`);
result.args = process.argv.slice(2);
let client;
try {
    client = await AirClient.connect(port);
} catch (error) {
    note(`cannot connect: ${error.message}`);
    process.exit(2);
}
client.on('message', ({ name, payload }) => note(`<- launcher  ${name}${payload === null ? '' : ` "${payload}"`}`));
client.on('end', ({ reason }) => note(`end: ${reason}`));
try {
    await scenarios[process.env.DRUX_JS_SCENARIO ?? 'whole-run'](client);
    note('scenario passed');
} catch (error) {
    result.error = String(error.stack ?? error);
    note(`scenario FAILED: ${error.message}`);
    status = client.ended?.startsWith('lost') ? 4 : 3;
    if (status === 3) await client.close();
}
if (process.env.DRUX_JS_RESULT) writeFileSync(process.env.DRUX_JS_RESULT, JSON.stringify(result, null, 1));
note(`exits with status ${status}`);
process.exit(status);
