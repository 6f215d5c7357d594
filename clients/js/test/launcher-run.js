// A launcher run of the real programs for the JavaScript tests, as
// tests/apps/launcher_run.py makes them: a temporary folder with copies of
// drux-launcher, drux-game and patcher.dll, an AIR client of the test's choosing
// (linked in under its own name), ports of the run's own, the library's start
// pauses shortened through its test build, and at the end nothing left running.
import { spawn } from 'node:child_process';
import { copyFileSync, existsSync, mkdtempSync, readFileSync, readlinkSync, rmSync, symlinkSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import { appsDir, testSeamsDir } from './paths.js';

const PROGRAMS = ['drux-launcher', 'drux-game', 'patcher.dll'];

// Why a live run cannot happen here, or null.
export function liveRunMissing() {
    if (process.platform !== 'linux') return 'live runs need the Linux build';
    if (!appsDir()) return 'no build of the programs (build/default/apps or DRUX_APPS_DIR)';
    if (!testSeamsDir()) return 'no test build of the library (DRUX_TEST_SEAMS_DIR)';
    return null;
}

// Whether condition() became true within ms, asked every 20 ms.
export async function until(condition, ms) {
    const deadline = Date.now() + ms;
    while (!condition() && Date.now() < deadline) await new Promise((r) => setTimeout(r, 20));
    return condition();
}

const portFree = (port) => new Promise((resolve) => {
    const probe = net.createServer().once('error', () => resolve(false));
    probe.listen(port, '127.0.0.1', () => probe.close(() => resolve(true)));
});

function programRunning(pid) {
    try {
        const exe = path.basename(readlinkSync(`/proc/${pid}/exe`));
        return PROGRAMS.includes(exe) || exe === 'node';
    } catch {
        return false;
    }
}

export class LauncherRun {
    // air: the AIR client's executable; airName: its name in the run's folder.
    constructor({ air, airName = 'air-client.js', env = {} }) {
        this.dir = mkdtempSync(path.join(os.tmpdir(), 'drux-js-'));
        for (const program of PROGRAMS) copyFileSync(path.join(appsDir(), program), this.file(program));
        this.airPath = this.file(airName);
        symlinkSync(path.resolve(air), this.airPath);
        this.env = {
            ...process.env,
            DRUX_TIMELINE: this.file('timeline.tsv'),
            DRUX_FIGURES: 'processStartPauseMs=100,processExitWaitMs=3000',
            LD_LIBRARY_PATH: testSeamsDir(),
            DRUX_PATCHER_ROOT: this.file('versions'),
            ...env,
        };
    }

    file(name) {
        return path.join(this.dir, name);
    }

    async start(options = []) {
        // Below the system's range of ephemeral ports, which outgoing connections take.
        this.ports = [];
        while (this.ports.length < 3) {
            const port = 20000 + Math.floor(Math.random() * 12000);
            if (!this.ports.includes(port) && (await portFree(port))) this.ports.push(port);
        }
        const [launcherPort, airPort, gamePort] = this.ports;
        const args = ['--launcher-port', launcherPort, '--air-port', airPort, '--game-port', gamePort, '--air-path', this.airPath, ...options];
        this.launcher = spawn(this.file('drux-launcher'), args.map(String), { cwd: this.dir, env: this.env, stdio: ['ignore', 'pipe', 'pipe'] });
        this.output = '';
        for (const stream of [this.launcher.stdout, this.launcher.stderr]) stream.on('data', (d) => (this.output += d));
        this.exited = new Promise((resolve) => this.launcher.on('exit', (code, signal) => resolve(code ?? 128 + os.constants.signals[signal])));
    }

    // The launcher's exit status, or null when it has not ended in time.
    waitForExit(ms = 60_000) {
        return Promise.race([this.exited, new Promise((r) => setTimeout(() => r(null), ms).unref())]);
    }

    notes(who) {
        const file = this.file('timeline.tsv');
        const text = existsSync(file) ? readFileSync(file, 'utf8') : '';
        return text.split('\n').map((line) => line.split('\t')).filter((p) => p.length === 3 && (!who || p[1] === who)).map((p) => p[2]);
    }

    // The noted programs that still run.
    running() {
        const pids = this.notes().map((note) => /^pid (\d+)/.exec(note)).filter(Boolean).map((m) => Number(m[1]));
        return pids.filter(programRunning);
    }

    // The noted programs still running after up to 10 s: programs told to end may take a moment to go.
    async leftRunning() {
        await until(() => this.running().length === 0, 10_000);
        return this.running();
    }

    report() {
        return `--- timeline\n${this.notes().join('\n')}\n--- launcher\n${this.output}`;
    }

    // Ends whatever is left and removes the folder (kept when DRUX_KEEP_RUNS is set).
    async cleanup() {
        for (const pid of this.running()) {
            try {
                process.kill(pid, 'SIGKILL');
            } catch {}
        }
        if (this.launcher && this.launcher.exitCode === null && this.launcher.signalCode === null) {
            this.launcher.kill('SIGKILL');
            await this.exited;
        }
        if (!process.env.DRUX_KEEP_RUNS) rmSync(this.dir, { recursive: true, force: true });
    }
}
