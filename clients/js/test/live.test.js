// Whole launcher runs in which drux-launcher starts a JavaScript AIR client
// built on this package (examples/scripted-air.js).
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';

import { LauncherRun, liveRunMissing, until } from './launcher-run.js';

const air = path.join(path.dirname(fileURLToPath(import.meta.url)), '../examples/scripted-air.js');
const skip = liveRunMissing() ?? false;

// Runs a scenario of the client; body gets the started run and returns what the client wrote.
async function withRun(scenario, body) {
    const run = new LauncherRun({ air, env: { DRUX_JS_SCENARIO: scenario } });
    run.env.DRUX_JS_RESULT = run.file('result.json');
    try {
        await run.start();
        await body(run, () => JSON.parse(readFileSync(run.file('result.json'), 'utf8')));
        assert.deepEqual(await run.leftRunning(), [], `still running\n${run.report()}`);
    } finally {
        await run.cleanup();
    }
}

it('a whole run: the game, chat both ways, version 1.1.0 installed and started, close', { skip, timeout: 120_000 }, async () => {
    await withRun('whole-run', async (run, result) => {
        assert.equal(await run.waitForExit(90_000), 0, run.report());
        const seen = result();
        assert.equal(seen.error, undefined, seen.error);
        // The launcher's command line for its AIR client, with the AIR port after "--".
        assert.deepEqual(seen.args, ['-runtime', '.\\', '-nodebug', 'META-INF\\AIR\\application.xml', '.\\', '--', String(run.ports[1])]);
        assert.equal(seen.chat, 'echo: Hello from JavaScript');
        assert.deepEqual([seen.latest, seen.installedBefore, seen.installed], [['2.0.0', '1.1.0', '1.0.0'], [], ['1.1.0']]);
        assert.deepEqual([seen.final.state, seen.final.percent, seen.final.version, seen.sizes[0].version], ['complete', 100, '1.1.0', '1.1.0']);
        assert.deepEqual(seen.steps, ['game connected', 'game stopped', 'version 1.1.0 ran', 'closed']);
        assert.ok(run.notes('game').some((n) => n.includes(`versions/1.1.0/drux-game`)), run.report());
        assert.ok(run.notes('launcher').some((n) => n.includes('exit callback')), run.report());
    });
});

it('the launcher closes the run: the client answers CLOSE and ends', { skip, timeout: 60_000 }, async () => {
    await withRun('launcher-closes', async (run, result) => {
        assert.ok(await until(() => run.notes('air-client').some((n) => n.startsWith('waiting')), 30_000), run.report());
        await new Promise((r) => setTimeout(r, 300));
        run.launcher.kill('SIGTERM');
        assert.equal(await run.waitForExit(40_000), 143, run.report());
        assert.equal(result().end, 'closed by the launcher');
        assert.ok(run.notes('air-client').includes('exits with status 0'), run.report());
    });
});
