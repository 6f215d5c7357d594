// A launcher run of the real programs for the JavaScript tests, as
// tests/apps/launcher_run.py makes them: a fresh temporary folder with copies
// of drux-launcher, drux-game and patcher.dll, an AIR client of the test's
// choosing (an executable script, linked in under its own name), ports of the
// run's own, the library's start pauses shortened through the test build of
// the library, and at the end nothing of the run left running.
import { spawn } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, readlinkSync, rmSync, symlinkSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import { appsDir, testSeamsDir } from './paths.js';

const PROGRAMS = ['drux-launcher', 'drux-game', 'patcher.dll'];
const SHORT_START = 'processStartPauseMs=100,processExitWaitMs=3000';

// Why a live run cannot happen here, or null.
export function liveRunMissing() {
    if (process.platform !== 'linux') return 'live runs need the Linux build';
    if (!appsDir()) return 'no build of the programs (build/default/apps or DRUX_APPS_DIR)';
    if (!testSeamsDir()) return 'no test build of the library (DRUX_TEST_SEAMS_DIR)';
    return null;
}

function portFree(port) {
    return new Promise((resolve) => {
        const probe = net.createServer();
        probe.once('error', () => resolve(false));
        probe.listen(port, '127.0.0.1', () => probe.close(() => resolve(true)));
    });
}

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
            DRUX_FIGURES: SHORT_START,
            LD_LIBRARY_PATH: testSeamsDir(),
            DRUX_PATCHER_ROOT: this.file('versions'),
            ...env,
        };
        this.launcher = null;
        this.exited = null;
    }

    file(name) {
        return path.join(this.dir, name);
    }

    async pickPorts() {
        const ports = [];
        while (ports.length < 3) {
            const port = 20000 + Math.floor(Math.random() * 12000);
            if (!ports.includes(port) && (await portFree(port))) ports.push(port);
        }
        return ports;
    }

    async start(options = []) {
        this.ports = await this.pickPorts();
        const [launcherPort, airPort, gamePort] = this.ports;
        const args = ['--launcher-port', launcherPort, '--air-port', airPort, '--game-port', gamePort, '--air-path', this.airPath,
            ...options].map(String);
        this.launcher = spawn(this.file('drux-launcher'), args, { cwd: this.dir, env: this.env, stdio: ['ignore', 'pipe', 'pipe'] });
        this.output = '';
        this.launcher.stdout.on('data', (d) => (this.output += d));
        this.launcher.stderr.on('data', (d) => (this.output += d));
        this.exited = new Promise((resolve) => this.launcher.on('exit', (code, signal) => resolve(code ?? 128 + os.constants.signals[signal])));
    }

    // The launcher's exit status, or null when it has not ended in time.
    async waitForExit(ms = 60_000) {
        let timer;
        const status = await Promise.race([this.exited, new Promise((r) => (timer = setTimeout(() => r(null), ms)))]);
        clearTimeout(timer);
        return status;
    }

    notes(who) {
        let text = '';
        try {
            text = readFileSync(this.file('timeline.tsv'), 'utf8');
        } catch {}
        return text.split('\n').map((line) => line.split('\t')).filter((p) => p.length === 3 && (!who || p[1] === who)).map((p) => p[2]);
    }

    // The noted programs that still run.
    running() {
        const pids = this.notes().map((note) => /^pid (\d+)/.exec(note)).filter(Boolean).map((m) => Number(m[1]));
        return pids.filter(programRunning);
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
