// The phone web client in headless Chromium (touch emulation) against the real program on
// the X display that scripts/test provides: pairing with the token, the touch pad moving the
// X pointer, typing into a focused window, the media browser opening a file, the launcher
// starting an application, and a wrong token being refused.
//
// Uses the fixed ports 8888 and 6888, so it must not run beside the CTest suite.

import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const buildDir = path.resolve(process.env.VELMORA_BUILD_DIR ?? path.join(root, 'build'));
const program = path.join(buildDir, 'velmora');
const textWindow = path.join(buildDir, 'tests', 'velmora_textwindow');
const chromiumPath = process.env.VELMORA_CHROMIUM ?? '/usr/bin/chromium';
const screenshotDir = process.env.VELMORA_SCREENSHOTS; // set to refresh the README picture
const BASE = 'http://127.0.0.1:6888/';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, check, { timeout = 20000, interval = 100 } = {}) {
    const end = Date.now() + timeout;
    for (;;) {
        const value = await check();
        if (value) return value;
        if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
        await sleep(interval);
    }
}

function portIsFree(port) {
    return new Promise((resolve) => {
        const probe = net.createServer();
        probe.once('error', () => resolve(false));
        probe.listen(port, '0.0.0.0', () => probe.close(() => resolve(true)));
    });
}

function pointer() {
    const text = execFileSync('xdotool', ['getmouselocation'], { encoding: 'utf8' });
    const m = /x:(-?\d+) y:(-?\d+)/.exec(text);
    return { x: Number(m[1]), y: Number(m[2]) };
}

function sql(database, statement) {
    execFileSync('sqlite3', [database, statement]);
}

// ---- the world the program runs in -----------------------------------------

const home = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-browser-'));
const env = {
    ...process.env,
    HOME: home,
    XDG_DATA_HOME: path.join(home, '.local/share'),
    XDG_CONFIG_HOME: path.join(home, '.config'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    QT_LOGGING_RULES: '*.debug=true;qt.*.debug=false',
};
delete env.QT_QPA_PLATFORM;
const liveData = path.join(env.XDG_DATA_HOME, 'velmora', 'Data');
const settingsFile = path.join(env.XDG_CONFIG_HOME, 'Orvane', 'Velmora.conf');
const work = path.join(home, 'work');
const mediaFolder = path.join(home, 'Music');
const playerLog = path.join(work, 'player.log');
const appLog = path.join(work, 'app.log');

function writeScript(file, body) {
    fs.writeFileSync(file, `#!/bin/sh\n${body}\n`, { mode: 0o755 });
}

// The live databases, prepared before the first start: one media folder with one song, an
// audio "player" and one application, both scripts that write down how they were started.
function prepareData() {
    fs.mkdirSync(work, { recursive: true });
    fs.mkdirSync(path.join(mediaFolder, 'Albums'), { recursive: true });
    fs.writeFileSync(path.join(mediaFolder, 'song.mp3'), 'not really music');
    const player = path.join(work, 'player.sh');
    writeScript(player, `printf '%s\\n' "$@" > '${playerLog}'`);
    const app = path.join(work, 'app.sh');
    writeScript(app, `{ pwd; printf '%s\\n' "$@"; } > '${appLog}'`);

    fs.mkdirSync(liveData, { recursive: true });
    for (const name of ['cfg.db', 'data.db', 'log.db']) fs.copyFileSync(path.join(buildDir, 'Data', name), path.join(liveData, name));
    const q = (text) => `'${text.replaceAll("'", "''")}'`;
    sql(path.join(liveData, 'data.db'), `INSERT INTO MediaFolder (name, path, sortNum) VALUES ('Music', ${q(mediaFolder)}, 1);`
        + `INSERT INTO DesktopApp (name, path, workDir, param, sortNum) VALUES ('Recorder', ${q(app)}, ${q(work)}, 'hello world', 1);`);
    sql(path.join(liveData, 'cfg.db'), `INSERT INTO dict (dictName, dictDesc, dictValue, sortNum) VALUES ('audioPlayer', 'audio player', ${q(player)}, 1);`);
}

let velmora = null;
let velmoraLog = '';
let textWindowProcess = null;
let textWindowOutput = '';
let browser = null;
let token = '';

function readToken() {
    if (!fs.existsSync(settingsFile)) return null;
    const m = /^token=([0-9a-f]{32})\s*$/m.exec(fs.readFileSync(settingsFile, 'utf8'));
    return m ? m[1] : null;
}

async function startVelmora() {
    for (const port of [8888, 6888]) {
        assert.ok(await portIsFree(port), `port ${port} is taken: is another Velmora (or a test) running?`);
    }
    velmora = spawn(program, [], { cwd: home, env, stdio: ['ignore', 'pipe', 'pipe'] });
    velmora.stdout.on('data', (d) => { velmoraLog += d; });
    velmora.stderr.on('data', (d) => { velmoraLog += d; });
    await waitFor('the command server', () => velmoraLog.includes('服务器已启动，监听端口:'), { timeout: 30000 });
    await waitFor('the web client', async () => {
        try {
            return (await fetch(BASE)).ok;
        } catch {
            return false;
        }
    });
    token = await waitFor('the pairing token in the settings store', readToken);
}

async function stopVelmora() {
    if (!velmora || velmora.exitCode !== null) return;
    const exited = new Promise((resolve) => velmora.once('exit', resolve));
    velmora.kill('SIGTERM');
    const timer = setTimeout(() => velmora.kill('SIGKILL'), 10000);
    await exited;
    clearTimeout(timer);
}

async function phonePage() {
    const page = await browser.newPage();
    page.on('pageerror', (error) => { throw error; });
    return page;
}

// One finger on the pad: down at the centre, a few moves by (dx, dy) in CSS pixels, up.
async function swipe(page, dx, dy, steps = 8) {
    const box = await page.locator('#pad').boundingBox();
    const x = box.x + box.width / 2;
    const y = box.y + box.height / 2;
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x, y, id: 1 }] });
    for (let i = 1; i <= steps; i += 1) {
        await sleep(16);
        await cdp.send('Input.dispatchTouchEvent', {
            type: 'touchMove', touchPoints: [{ x: x + (dx * i) / steps, y: y + (dy * i) / steps, id: 1 }],
        });
    }
    await sleep(16);
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    await cdp.detach();
}

describe('the phone web client in a browser', { skip: !process.env.DISPLAY && 'needs the X display of scripts/test' }, () => {
    before(async () => {
        assert.ok(fs.existsSync(program), `${program} is not built`);
        prepareData();
        try {
            await startVelmora();
        } catch (error) {
            console.error(velmoraLog);
            throw error;
        }
        browser = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-')), {
            executablePath: chromiumPath,
            headless: true,
            args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'],
            hasTouch: true,
            isMobile: true,
            viewport: { width: 390, height: 760 },
            deviceScaleFactor: 1,
        });
    });

    after(async () => {
        await browser?.close();
        textWindowProcess?.kill();
        await stopVelmora();
        if (process.exitCode && velmoraLog) console.error(velmoraLog.split('\n').slice(-60).join('\n'));
        fs.rmSync(home, { recursive: true, force: true });
    });

    test('a wrong token is refused and the page asks for pairing', async () => {
        const page = await phonePage();
        await page.goto(`${BASE}#token=${'f'.repeat(32)}`);
        await page.locator('#status[data-state="refused"]').waitFor();
        assert.equal(await page.locator('#pairing-title').textContent(), 'not paired / wrong token');
        assert.match(velmoraLog, /Web client refused: wrong pairing token/);
        assert.doesNotMatch(velmoraLog, /新客户端连接/);
        await page.close();
    });

    let page;
    test('the token from the pairing address connects', async () => {
        page = await phonePage();
        await page.goto(`${BASE}#token=${token}`);
        await page.locator('#status[data-state="connected"]').waitFor();
        await waitFor('the connection in the log', () => velmoraLog.includes('新客户端连接: '));
        assert.ok(!page.url().includes(token), 'the token leaves the address bar');
        if (screenshotDir) {
            fs.mkdirSync(screenshotDir, { recursive: true });
            await page.screenshot({ path: path.join(screenshotDir, 'web-client.png') });
        }
    });

    test('a swipe on the pad moves the X pointer', async () => {
        execFileSync('xdotool', ['mousemove', '600', '500']);
        const start = pointer();
        await swipe(page, 120, 0);
        const moved = await waitFor('the pointer to move right', () => {
            const now = pointer();
            return now.x - start.x > 40 ? now : null;
        }, { timeout: 5000 });
        assert.ok(Math.abs(moved.y - start.y) < (moved.x - start.x) / 2, `mostly sideways: ${JSON.stringify({ start, moved })}`);

        const before = pointer();
        await swipe(page, 0, -120);
        await waitFor('the pointer to move up', () => before.y - pointer().y > 40, { timeout: 5000 });
    });

    test('typing on the phone writes into the focused window', async () => {
        textWindowProcess = spawn(textWindow, [], { env, stdio: ['ignore', 'pipe', 'inherit'] });
        textWindowProcess.stdout.on('data', (d) => { textWindowOutput += d; });
        await waitFor('the text window', () => textWindowOutput.includes('READY'));
        // Without a window manager the focus is given directly.
        execFileSync('xdotool', ['search', '--sync', '--name', '^Velmora text window$', 'windowfocus', '--sync']);

        await page.locator('.tab[data-tab="keys"]').click();
        await page.locator('#type-field').pressSequentially('Hello Velmora 42', { delay: 30 });
        await waitFor('the typed text', () => textWindowOutput.includes('TEXT:Hello Velmora 42\n'), { timeout: 10000 });
    });

    test('the media browser lists the folder and opens a file with the player', async () => {
        await page.locator('.tab[data-tab="media"]').click();
        await page.locator('#media-list .item-name', { hasText: 'Music' }).click();
        await page.locator('#media-title', { hasText: 'Music' }).waitFor();
        await page.locator('#media-list .item-name', { hasText: 'Albums' }).waitFor();
        await page.locator('#media-list .item-name', { hasText: 'song.mp3' }).click();
        const started = await waitFor('the player', () => fs.existsSync(playerLog) && fs.readFileSync(playerLog, 'utf8'));
        assert.equal(started.trim(), fs.realpathSync(path.join(mediaFolder, 'song.mp3')));
    });

    test('the launcher starts a registered application', async () => {
        await page.locator('.tab[data-tab="apps"]').click();
        await page.locator('#apps-list .item-name', { hasText: 'Recorder' }).click();
        const started = await waitFor('the application', () => fs.existsSync(appLog) && fs.readFileSync(appLog, 'utf8'));
        assert.deepEqual(started.trim().split('\n'), [fs.realpathSync(work), 'hello', 'world']);
    });
});
