// A whole launcher run clicked through in headless Chromium (Debian's, driven by
// puppeteer-core; no browser is downloaded) with the web UI as the AIR client:
// the game, chat both ways, 1.1.0 installed to 100 % and started, why it cannot
// be uninstalled, the close. Screenshots go to build/web-ui/ (or DRUX_SCREENSHOT_DIR).
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';

import { LauncherRun, liveRunMissing, until } from '../../../clients/js/test/launcher-run.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const program = path.join(here, '../bin/drux-web-ui.js');
const chromium = process.env.DRUX_CHROMIUM || '/usr/bin/chromium';
const shots = process.env.DRUX_SCREENSHOT_DIR || path.resolve(here, '../../../build/web-ui');

const puppeteer = await import('puppeteer-core').then((m) => m.default, () => null);
const skip = !puppeteer ? 'puppeteer-core is not installed (npm ci in apps/web-ui)'
    : !existsSync(chromium) ? `no Chromium at ${chromium} (apt install chromium)` : liveRunMissing() ?? false;

it('a whole run in the browser: game, chat, install 1.1.0 to 100 %, start it, close', { skip, timeout: 180_000 }, async (t) => {
    const started = Date.now();
    mkdirSync(shots, { recursive: true });
    const run = new LauncherRun({ air: program, airName: 'drux-web-ui' });
    run.env.DRUX_UI_URL_FILE = run.file('ui-url');
    let browser;
    try {
        await run.start();
        const urlFile = run.file('ui-url');
        assert.ok(await until(() => existsSync(urlFile) && readFileSync(urlFile, 'utf8').endsWith('\n'), 30_000), `no ${urlFile}`);
        const url = readFileSync(urlFile, 'utf8').trim();
        assert.match(url, /^http:\/\/127\.0\.0\.1:\d+\/\?token=[\w-]{32}$/);

        // Without the token, nothing: not the page, not an action.
        const bare = url.replace(/\?.*/, '');
        assert.equal((await fetch(bare)).status, 403);
        assert.equal((await fetch(new URL('/api/close', bare), { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' })).status, 403);

        const args = ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'];
        browser = await puppeteer.launch({ executablePath: chromium, headless: true, args });
        const page = await browser.newPage();
        await page.setViewport({ width: 1100, height: 760 });
        const problems = [];
        page.on('pageerror', (error) => problems.push(String(error)));
        page.on('console', (message) => message.type() === 'error' && problems.push(message.text()));
        const text = (selector) => page.$eval(selector, (node) => node.textContent);
        const waitText = (selector, wanted, timeout = 60_000) =>
            page.waitForFunction((s, w) => document.querySelector(s)?.textContent.includes(w), { timeout }, selector, wanted);
        const chat = (words) => page.type('#chat-input', words).then(() => page.click('#chat-send'));

        await page.goto(url);
        await waitText('#connection', 'connected');
        await page.waitForSelector('#latest li[data-version="1.1.0"] button.install');

        // The game: started, seen running.
        await page.click('#start-game');
        await waitText('#game-state', 'connected');
        assert.match(await text('#game-words'), /running and connected/);
        await page.screenshot({ path: path.join(shots, '1-game-running.png') });

        // Chat both ways.
        await chat('Hello from the browser');
        await waitText('#chat-log', 'echo: Hello from the browser');
        await chat('/quit');
        await waitText('#game-state', 'stopped');

        // Install 1.1.0: the bar reaches 100 %.
        await page.click('#latest li[data-version="1.1.0"] button.install');
        await page.waitForFunction(() => document.querySelector('#progress-bar')?.getAttribute('aria-valuenow') === '100' &&
            document.querySelector('#progress-bar').dataset.state === 'complete', { timeout: 60_000 });
        assert.match(await text('#progress-label'), /Install of 1\.1\.0: complete, 100 %/);
        await page.waitForSelector('#installed li[data-version="1.1.0"] button.start');
        await page.screenshot({ path: path.join(shots, '2-installed.png') });

        // Start it.
        await page.click('#installed li[data-version="1.1.0"] button.start');
        await waitText('#game-state', 'connected');
        await chat('Which version?');
        await waitText('#chat-log', 'echo: Which version?');
        await page.screenshot({ path: path.join(shots, '3-version-running.png') });
        assert.ok(run.notes('game').some((n) => n.includes('versions/1.1.0/drux-game')), run.report());

        // The newest installed version stays: its uninstall fails, and the page says why.
        await page.click('#installed li[data-version="1.1.0"] button.uninstall');
        await waitText('#errors', 'The uninstall of 1.1.0 failed: version 1.1.0 is the newest installed version and stays.');
        await page.waitForSelector('#installed li[data-version="1.1.0"] button.start');

        // Close the launcher from the page.
        await page.click('#close');
        await waitText('#connection', 'closed', 90_000);
        await page.screenshot({ path: path.join(shots, '4-closed.png') });
        assert.equal(await run.waitForExit(60_000), 0, run.report());
        assert.ok(run.notes('air-client').includes('exits with status 0'), run.report());
        assert.deepEqual(problems, []);
        assert.deepEqual(await run.leftRunning(), [], run.report());
        const seconds = ((Date.now() - started) / 1000).toFixed(1);
        writeFileSync(path.join(shots, 'browser-test.txt'), `whole run in the browser: ${seconds} s\n`);
        t.diagnostic(`whole run in the browser: ${seconds} s; screenshots in ${shots}`);
    } finally {
        await browser?.close();
        await run.cleanup();
    }
});
