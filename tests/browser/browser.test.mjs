// The phone web client in headless Chromium (touch emulation) against the real program on the X
// display that scripts/test provides. Uses the fixed ports 8888 and 6888, so never beside CTest.

import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { launchPhone as launchBrowser, pointer, sleep, swipe, waitFor } from './harness.mjs';

const buildDir = path.resolve(process.env.VELMORA_BUILD_DIR ?? fileURLToPath(new URL('../../build', import.meta.url)));
const screenshotDir = process.env.VELMORA_SCREENSHOTS; // set to refresh the README picture
const BASE = 'http://127.0.0.1:6888/';
const portIsFree = (port) => new Promise((resolve) => {
    const probe = net.createServer().once('error', () => resolve(false));
    probe.listen(port, '0.0.0.0', () => probe.close(() => resolve(true)));
});
const contents = (file) => fs.existsSync(file) && fs.readFileSync(file, 'utf8').trim();

// A small RGB picture as PNG, for the player's cover art.
function writePng(file, width, height, pixel) {
    const table = Array.from({ length: 256 }, (_, n) => {
        let c = n;
        for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        return c >>> 0;
    });
    const crc = (bytes) => {
        let c = 0xffffffff;
        for (const b of bytes) c = table[(c ^ b) & 0xff] ^ (c >>> 8);
        return (c ^ 0xffffffff) >>> 0;
    };
    const chunk = (type, data) => {
        const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
        const out = Buffer.alloc(body.length + 8);
        out.writeUInt32BE(data.length, 0);
        body.copy(out, 4);
        out.writeUInt32BE(crc(body), body.length + 4);
        return out;
    };
    const raw = Buffer.alloc((width * 3 + 1) * height);
    for (let y = 0; y < height; y += 1) {
        for (let x = 0; x < width; x += 1) raw.set(pixel(x, y), y * (width * 3 + 1) + 1 + x * 3);
    }
    const header = Buffer.alloc(13);
    header.writeUInt32BE(width, 0);
    header.writeUInt32BE(height, 4);
    header.set([8, 2, 0, 0, 0], 8);
    fs.writeFileSync(file, Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
        chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]));
}

// The media player runs on a session bus of the test's own.
const dbusDaemon = ['/usr/bin/dbus-daemon', '/bin/dbus-daemon'].find((file) => fs.existsSync(file));

// A fresh home: one media folder with one song, and an audio "player" and one application that
// are scripts writing down how they were started.
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-browser-'));
// No accessibility bridge: a desktop's at-spi must not change what the test sees.
const env = { ...process.env, HOME: home, QT_LOGGING_RULES: '*.debug=true;qt.*.debug=false', NO_AT_BRIDGE: '1' };
for (const [key, dir] of [['XDG_DATA_HOME', '.local/share'], ['XDG_CONFIG_HOME', '.config'], ['XDG_CACHE_HOME', '.cache']]) {
    env[key] = path.join(home, dir);
}
delete env.QT_QPA_PLATFORM;
const work = path.join(home, 'work');
const music = path.join(home, 'Music');
const [playerLog, appLog] = [path.join(work, 'player.log'), path.join(work, 'app.log')];

function prepareData() {
    const data = path.join(env.XDG_DATA_HOME, 'velmora', 'Data');
    for (const dir of [work, path.join(music, 'Albums'), data]) fs.mkdirSync(dir, { recursive: true });
    fs.writeFileSync(path.join(music, 'song.mp3'), 'not really music');
    const script = (name, body) => {
        fs.writeFileSync(path.join(work, name), `#!/bin/sh\n${body}\n`, { mode: 0o755 });
        return `'${path.join(work, name)}'`;
    };
    const player = script('player.sh', `printf '%s\\n' "$@" > '${playerLog}'`);
    const app = script('app.sh', `{ pwd; printf '%s\\n' "$@"; } > '${appLog}'`);
    for (const name of ['cfg.db', 'data.db', 'log.db']) fs.copyFileSync(path.join(buildDir, 'Data', name), path.join(data, name));
    execFileSync('sqlite3', [path.join(data, 'data.db'), `INSERT INTO MediaFolder (name, path, sortNum) VALUES ('Music', '${music}', 1);
        INSERT INTO DesktopApp (name, path, workDir, param, sortNum) VALUES ('Recorder', ${app}, '${work}', 'hello world', 1);`]);
    execFileSync('sqlite3', [path.join(data, 'cfg.db'),
        `INSERT INTO dict (dictName, dictDesc, dictValue, sortNum) VALUES ('audioPlayer', 'audio player', ${player}, 1);
        INSERT INTO dict (dictName, dictDesc, dictValue, sortNum) VALUES ('clipboardRead', 'clipboard read', '1', 2);`]);
}

let velmora = null;
let log = '';
let browser = null;
let token = '';
let typist = null;
let typed = ''; // what the text window reports
let bus = null;
let fakePlayer = null;
let failed = false;
// Remembers a failure, so that the program's log is shown at the end.
const noteFailure = (fn) => fn().catch((error) => { failed = true; throw error; });
const step = (name, fn) => test(name, () => noteFailure(fn));

// A phone's browser whose language is `locale`.
const launchPhone = (locale) => launchBrowser(home, locale);

// Everything the pages send: request lines and headers, WebSocket addresses and frames.
const sent = [];
// The opening of each WebSocket: [challenge received, answer sent].
const openings = [];
// Every frame after the openings, both ways: { text, payload } with the payload's bytes.
const frames = [];

// `withoutWebCrypto`: as on a phone that loads the page over plain http from the LAN, where
// browsers offer no crypto.subtle.
async function phonePage(fragment, { withoutWebCrypto = false } = {}) {
    const page = await browser.newPage();
    page.on('pageerror', (error) => { throw error; });
    page.on('websocket', (ws) => {
        const opening = [];
        openings.push(opening);
        sent.push(ws.url());
        const after = (payload) => frames.push({ text: typeof payload === 'string', payload: Buffer.from(payload) });
        ws.on('framereceived', ({ payload }) => {
            if (opening.length === 0) opening.push(String(payload));
            else after(payload);
        });
        ws.on('framesent', ({ payload }) => {
            sent.push(String(payload));
            if (opening.length === 1) opening.push(String(payload));
            else after(payload);
        });
    });
    if (withoutWebCrypto) await page.addInitScript(() => Object.defineProperty(globalThis.crypto, 'subtle', { value: undefined }));
    await page.goto(`${BASE}#token=${fragment}`);
    return page;
}

// Two fingers on the pad, side by side: down, `moves` equal moves to dy in CSS pixels, up.
async function twoFingerScroll(page, dy, moves) {
    const box = await page.locator('#pad').boundingBox();
    const [x, y] = [box.x + box.width / 2, box.y + box.height / 2 - dy / 2];
    const cdp = await page.context().newCDPSession(page);
    const touch = (type, touchPoints) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints });
    const at = (d) => [{ x: x - 30, y: y + d, id: 1 }, { x: x + 30, y: y + d, id: 2 }];
    await touch('touchStart', at(0));
    for (let i = 1; i <= moves; i += 1) {
        await sleep(16);
        await touch('touchMove', at((dy * i) / moves));
    }
    await touch('touchEnd', []);
    await cdp.detach();
}

describe('the phone web client in a browser', { skip: !process.env.DISPLAY && 'needs the X display of scripts/test' }, () => {
    before(() => noteFailure(async () => {
        for (const port of [8888, 6888]) assert.ok(await portIsFree(port), `port ${port} is taken: is another Velmora running?`);
        prepareData();
        delete env.DBUS_SESSION_BUS_ADDRESS;
        if (dbusDaemon) {
            // A configuration of its own: the machine's service folders (portals, the accessibility
            // bus) stay out, so nothing installed on a desktop starts on the test's bus.
            const busDir = fs.mkdtempSync(path.join(home, 'bus-'));
            const config = path.join(busDir, 'session.conf');
            fs.writeFileSync(config, `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=${busDir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
`);
            bus = spawn(dbusDaemon, [`--config-file=${config}`, '--nofork', '--nopidfile', '--print-address=1'], { stdio: ['ignore', 'pipe', 'ignore'] });
            let printed = '';
            bus.stdout.on('data', (d) => { printed += d; });
            env.DBUS_SESSION_BUS_ADDRESS = await waitFor('the session bus', () => printed.includes('\n') && printed.trim(), 10000);
        }
        velmora = spawn(path.join(buildDir, 'velmora'), [], { cwd: home, env, stdio: ['ignore', 'pipe', 'pipe'] });
        for (const stream of [velmora.stdout, velmora.stderr]) stream.on('data', (d) => { log += d; });
        await waitFor('the web client', () => log.includes('服务器已启动，监听端口:') && fetch(BASE).then((r) => r.ok, () => false), 30000);
        const settings = path.join(env.XDG_CONFIG_HOME, 'Orvane', 'Velmora.conf');
        token = await waitFor('the pairing token', () => /^token=([0-9a-f]{32})\s*$/m.exec(contents(settings) || '')?.[1]);
        browser = await launchPhone('en-US');
        browser.on('request', (request) => {
            sent.push(request.url(), ...Object.entries(request.headers()).flat());
            const body = request.postData();
            if (body) sent.push(body);
        });
    }));

    after(async () => {
        await browser?.close();
        typist?.kill();
        fakePlayer?.kill();
        bus?.kill();
        if (velmora?.exitCode === null) {
            const timer = setTimeout(() => velmora.kill('SIGKILL'), 10000);
            await new Promise((resolve) => velmora.once('exit', resolve).kill('SIGTERM'));
            clearTimeout(timer);
        }
        if (failed) console.error(log.split('\n').slice(-60).join('\n'));
        fs.rmSync(home, { recursive: true, force: true });
    });

    step('a wrong token is refused; a new pairing link in the open page pairs it without a reload', async () => {
        const page = await phonePage('f'.repeat(32));
        await page.locator('#status[data-state="refused"]').waitFor();
        assert.equal(await page.locator('#pairing-title').textContent(), 'not paired / wrong token');
        assert.match(log, /Web client refused: wrong pairing token/);
        assert.doesNotMatch(log, /新客户端连接/);
        // As when the phone scans the code again after "New Pairing Code": only the fragment changes.
        await page.evaluate((t) => { location.hash = `#token=${t}`; }, token);
        await page.locator('#status[data-state="connected"]').waitFor();
        assert.ok(!page.url().includes(token), 'the token leaves the address bar');
        await page.close();
    });

    let page;
    step('without Web Crypto the page still proves the token, which never leaves the phone', async () => {
        page = await phonePage(token, { withoutWebCrypto: true });
        assert.equal(await page.evaluate(() => typeof globalThis.crypto.subtle), 'undefined');
        await page.locator('#status[data-state="connected"][data-sealed="true"] .status-lock').waitFor();
        await waitFor('the connection in the log', () => log.includes('新客户端连接: '));
        assert.ok(!page.url().includes(token), 'the token leaves the address bar');
        assert.ok(sent.length > 5 && sent.every((text) => !text.includes(token)), 'no request, header or frame holds the token');
        assert.ok(!log.includes(token), 'nor does the log');
        if (screenshotDir) {
            fs.mkdirSync(screenshotDir, { recursive: true });
            await page.screenshot({ path: path.join(screenshotDir, 'web-client.png') });
        }
    });

    step('an answer seen on the network does not open another connection', async () => {
        const [challenge, answer] = openings.at(-1);
        assert.match(challenge, /"challenge":"[0-9a-f]{64}"/);
        const outcome = await page.evaluate((replayed) => new Promise((resolve) => {
            const ws = new WebSocket(`ws://${location.host}/ws`);
            const received = [];
            ws.onmessage = (event) => {
                received.push(event.data);
                if (received.length === 1) ws.send(replayed);
            };
            ws.onclose = (event) => resolve({ code: event.code, received });
        }), answer);
        assert.equal(outcome.code, 4401);
        assert.equal(outcome.received.length, 1, 'nothing but a fresh challenge');
        assert.notEqual(outcome.received[0], challenge);
        assert.equal(await page.locator('#status').getAttribute('data-state'), 'connected', 'the paired page keeps the PC');

        // A page cached from before sealing answers right but without a version: told to reload.
        const old = await page.evaluate((t) => new Promise((resolve) => {
            const ws = new WebSocket(`ws://${location.host}/ws`);
            ws.onmessage = async (event) => {
                const { challengeAnswer } = await import('/js/hmac.js');
                const answer = await challengeAnswer(t, JSON.parse(event.data).params.challenge, null);
                ws.send(JSON.stringify({ command: 'answer', params: { answer } }));
            };
            ws.onclose = (event) => resolve(event.code);
        }), token);
        assert.equal(old, 4426);
        await waitFor('the refusal in the log', () => /Web client refused: its page speaks protocol 1 .*must be reloaded/.test(log));
        assert.equal(await page.locator('#status').getAttribute('data-state'), 'connected');
    });

    step('a swipe on the pad moves the X pointer', async () => {
        execFileSync('xdotool', ['mousemove', '600', '500']);
        const start = pointer();
        await swipe(page, 120, 0);
        const moved = await waitFor('the pointer to move right', () => pointer().x - start.x > 40 && pointer(), 5000);
        assert.ok(Math.abs(moved.y - start.y) < (moved.x - start.x) / 2, `mostly sideways: ${JSON.stringify({ start, moved })}`);
        await swipe(page, 0, -120);
        await waitFor('the pointer to move up', () => moved.y - pointer().y > 40, 5000);
    });

    // The program logs each wheel command's distance in notches, the last with the lift.
    step('a slow two-finger scroll adds up to as far as a fast one, either way', async () => {
        const wheel = () => [...log.matchAll(/收到鼠标滚轮命令，滚动量: (\S+) ?(结束)?/g)];
        const scrolled = async (dy, moves) => {
            const before = wheel().length;
            await twoFingerScroll(page, dy, moves);
            await waitFor('the lift', () => wheel().length > before && wheel().at(-1)[2], 5000);
            return wheel().slice(before).reduce((s, m) => s + Number(m[1]), 0);
        };
        for (const dy of [150, -150]) {
            const fast = await scrolled(dy, 1);
            const slow = await scrolled(dy, 30);
            // 22 CSS px to a notch; fingers moving down scroll up (natural scrolling).
            assert.ok(Math.abs(fast - dy / 22) < 0.02, `fast ${fast} for ${dy}`);
            assert.ok(Math.abs(slow - fast) < 0.02, `slow ${slow}, fast ${fast}`);
        }
    });

    step('typing on the phone writes into the focused window', async () => {
        typist = spawn(path.join(buildDir, 'tests', 'velmora_textwindow'), [], { env, stdio: ['ignore', 'pipe', 'inherit'] });
        typist.stdout.on('data', (d) => { typed += d; });
        // Without a window manager the focus is given directly, once the window is mapped.
        execFileSync('xdotool', ['search', '--sync', '--onlyvisible', '--name', '^Velmora text window$', 'windowfocus', '--sync']);
        await page.locator('.tab[data-tab="keys"]').click();
        await page.locator('#type-field').pressSequentially('Hello Velmora 42', { delay: 30 });
        await waitFor('the typed text', () => typed.includes('TEXT:Hello Velmora 42\n'), 10000);
    });

    step('the Keys tab puts text on the PC clipboard and reads it back while another window has the focus', async () => {
        // xclip -i leaves a child serving the text until the display ends: it must hold none of
        // our pipes, or the test runner waits for it to close them and never ends.
        const xclip = (args, input) => execFileSync('xclip', ['-selection', 'clipboard', ...args],
            { input, encoding: 'utf8', env, stdio: ['pipe', input === undefined ? 'pipe' : 'ignore', input === undefined ? 'inherit' : 'ignore'] });
        await page.locator('#clip-field').fill('From the phone é 1');
        await page.locator('#clip-send').click();
        await page.locator('#clip-message', { hasText: 'On the PC clipboard' }).waitFor();
        assert.equal(xclip(['-o']), 'From the phone é 1');
        xclip(['-i'], 'From the PC ü 2');
        await page.locator('#clip-get').click();
        await waitFor('the PC clipboard on the phone', () => page.locator('#clip-received').inputValue().then((v) => v === 'From the PC ü 2'), 10000);
        assert.match(await page.locator('#clip-time').textContent(), /^PC clipboard at \S/);
        await page.locator('#clip-copy').click();
        await page.locator('#toast.show', { hasText: /Copied|copy it by hand/ }).waitFor();
        if (screenshotDir) {
            await page.locator('#toast.show').waitFor({ state: 'hidden' });
            await page.screenshot({ path: path.join(screenshotDir, 'keys-clipboard.png') });
        }
        assert.ok(!log.includes('From the PC ü 2') && !log.includes('From the phone é 1'), 'clipboard text in the log');
    });

    step("buttons of the user's own press their keys in the focused window, stay over a reload, move and go", async () => {
        await page.locator('.tab[data-tab="keys"]').click();
        const save = async (label, keys, hold) => {
            await page.locator('#ub-label').fill(label);
            await page.locator('#ub-keys').fill(keys);
            await page.locator('#ub-hold').fill(hold);
            await page.locator('#ub-save').click();
        };
        await page.locator('#ub-add').click();
        await save('Bad', 'Ctrl+Banana', '');
        await page.locator('#ub-error', { hasText: 'A key name is not known' }).waitFor();
        for (const [label, keys, hold] of [['Wipe', 'Ctrl+A, Backspace', ''], ['Shout', 'O K', 'Shift']]) {
            if (await page.locator('#ub-form').isHidden()) await page.locator('#ub-add').click();
            await save(label, keys, hold);
            await page.locator('.ub-key', { hasText: label }).waitFor();
        }
        const pressed = async (label, expected) => {
            const from = typed.length;
            await page.locator('.ub-key', { hasText: label }).click();
            await waitFor(`${label} in the window`, () => typed.slice(from).includes(`TEXT:${expected}\n`), 10000);
        };
        await pressed('Wipe', ''); // Ctrl+A, then Backspace: the field emptied
        await pressed('Shout', 'OK'); // Shift held over both keys

        await page.reload();
        await page.locator('#status[data-state="connected"]').waitFor();
        await page.locator('.tab[data-tab="keys"]').click();
        const labels = () => page.locator('#ub-grid .ub-key span').allTextContents();
        await waitFor('the buttons from the PC', async () => (await labels()).join() === 'Wipe,Shout', 10000);
        await pressed('Shout', 'OKOK');

        await page.locator('#ub-edit').click();
        await page.locator('.ub-move[aria-label="Move Shout up"]').click();
        await page.locator('.ub-row').first().filter({ hasText: 'Shout' }).waitFor();
        await page.locator('.ub-open[aria-label="Edit Wipe"]').click();
        await save('Clear all', 'Ctrl+A, Delete', '');
        await page.locator('.ub-open', { hasText: 'Clear all' }).waitFor();
        await page.locator('#ub-edit').click();
        assert.deepEqual(await labels(), ['Shout', 'Clear all']);
        assert.deepEqual(await page.locator('#ub-grid .ub-key small').allTextContents(), ['O, K', 'Ctrl+A, Del']);
        if (screenshotDir) {
            await page.locator('#user-buttons').scrollIntoViewIfNeeded();
            await page.screenshot({ path: path.join(screenshotDir, 'keys-own-buttons.png') });
        }
        await page.locator('#ub-edit').click();
        await page.locator('.ub-open[aria-label="Edit Clear all"]').click();
        await page.locator('#ub-delete').click();
        await page.locator('#ub-edit').click();
        await waitFor('one button left', async () => (await labels()).join() === 'Shout', 10000);
    });

    // Every tab, and the views that open over them, with axe-core's rules (WCAG 2.2 A and AA
    // and its best practices): no violation of any impact.
    step('axe-core finds nothing on any tab or view', async () => {
        const axeScript = fileURLToPath(new URL('node_modules/axe-core/axe.min.js', import.meta.url));
        const check = async (where) => {
            if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.addScriptTag({ path: axeScript });
            const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
            assert.deepEqual(violations.map((v) => `${where}: ${v.impact} ${v.id} ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`), []);
        };
        for (const tab of ['pad', 'keys', 'media', 'apps', 'files', 'present']) {
            await page.locator(`.tab[data-tab="${tab}"]`).click();
            await check(`the ${tab} tab`);
        }
        await page.locator('.tab[data-tab="keys"]').click();
        await page.locator('#ub-edit').click();
        await check('My buttons being edited');
        await page.locator('#ub-add').click();
        await check('the button form');
        await page.locator('#ub-cancel').click();
        await page.locator('#ub-edit').click();
        await page.locator('#open-settings').click();
        await check('the settings');
        await page.locator('#close-settings').click();
        await page.locator('.tab[data-tab="present"]').click();
        await page.locator('#present-next').click();
        await waitFor('the clock running', async () => (await page.locator('#present-time').textContent()) !== '0:00', 5000);
        if (screenshotDir) await page.screenshot({ path: path.join(screenshotDir, 'present.png') });
        await page.locator('.tab[data-tab="media"]').click();
    });

    step("the PC's power buttons stay hidden while the PC's setting is off", async () => {
        await page.locator('.tab[data-tab="apps"]').click();
        await page.locator('#power-note', { hasText: "switched off in Velmora's settings" }).waitFor();
        assert.equal(await page.locator('#power-grid').isHidden(), true);
        assert.doesNotMatch(log, /power: \w+ asked of the desktop/);
    });

    step('the media browser lists the folder and opens a file with the player', async () => {
        await page.locator('.tab[data-tab="media"]').click();
        await page.locator('#media-list .item-name', { hasText: 'Music' }).click();
        await page.locator('#media-title', { hasText: 'Music' }).waitFor();
        await page.locator('#media-list .item-name', { hasText: 'Albums' }).waitFor();
        await page.locator('#media-list .item-name', { hasText: 'song.mp3' }).click();
        assert.equal(await waitFor('the player', () => contents(playerLog)), fs.realpathSync(path.join(music, 'song.mp3')));
    });

    step('files chosen on the phone arrive on the PC byte for byte, with progress; a cancelled one leaves nothing', async () => {
        const outbox = fs.mkdtempSync(path.join(home, 'phone-files-'));
        const files = { 'empty.txt': 0, 'note.txt': 1000, 'photo.jpg': 6 * 1024 * 1024, 'video.mp4': 64 * 1024 * 1024 };
        for (const [name, size] of Object.entries(files)) fs.writeFileSync(path.join(outbox, name), crypto.randomBytes(size));
        await page.locator('.tab[data-tab="files"]').click();
        // A phone's Wi-Fi rather than loopback, so that progress can be watched and a cancel lands mid-way.
        const cdp = await page.context().newCDPSession(page);
        await cdp.send('Network.enable');
        await cdp.send('Network.emulateNetworkConditions', { offline: false, latency: 5, downloadThroughput: -1, uploadThroughput: 4 * 1024 * 1024 });
        await page.locator('#upload-input').setInputFiles(Object.keys(files).map((name) => path.join(outbox, name)));
        const row = (name) => page.locator('.upload', { has: page.locator('.upload-name', { hasText: name }) });
        await waitFor('progress with speed and time left', async () => / of .*\/s · .* left$/.test(await row('photo.jpg').locator('.upload-state').textContent()), 20000);
        await waitFor('the video on its way', async () => (await row('video.mp4').getAttribute('data-status')) === 'sending' &&
            (await row('video.mp4').locator('.upload-bar').evaluate((bar) => bar.value)) > 0, 30000);
        if (screenshotDir) await page.screenshot({ path: path.join(screenshotDir, 'file-upload.png') });
        await row('video.mp4').locator('.upload-cancel').click();
        for (const name of ['empty.txt', 'note.txt', 'photo.jpg']) {
            await waitFor(`${name} done`, async () => (await row(name).getAttribute('data-status')) === 'done', 30000);
        }
        assert.equal(await row('video.mp4').getAttribute('data-status'), 'cancelled');
        await cdp.detach();
        const received = path.join(home, 'Downloads', 'Velmora');
        await waitFor('the cancelled upload gone', () => !fs.readdirSync(received).some((name) => name !== 'empty.txt' && name !== 'note.txt' && name !== 'photo.jpg'), 10000);
        assert.deepEqual(fs.readdirSync(received).sort(), ['empty.txt', 'note.txt', 'photo.jpg']);
        for (const name of ['empty.txt', 'note.txt', 'photo.jpg']) {
            assert.ok(fs.readFileSync(path.join(received, name)).equals(fs.readFileSync(path.join(outbox, name))), name);
        }
        assert.match(log, /File received from the phone: photo.jpg 6291456 bytes/);
        await page.locator('.tab[data-tab="media"]').click(); // where the next steps expect the page
    });

    step('a file the PC sends from a terminal (velmora --send) downloads on the phone byte for byte', async () => {
        await page.locator('.tab[data-tab="files"]').click();
        const report = path.join(fs.mkdtempSync(path.join(home, 'pc-files-')), 'report.pdf');
        fs.writeFileSync(report, crypto.randomBytes(300 * 1024 + 7));
        const send = spawnSync(path.join(buildDir, 'velmora'), ['--send', report],
            { env: { ...env, LANG: 'C.UTF-8', LANGUAGE: 'en' }, encoding: 'utf8', timeout: 20000 });
        assert.equal(send.status, 0, send.stdout + send.stderr);
        const card = page.locator('#offer-list .offer', { has: page.locator('.upload-name', { hasText: 'report.pdf' }) });
        const [download] = await Promise.all([page.waitForEvent('download'), card.locator('a').click()]);
        assert.equal(download.suggestedFilename(), 'report.pdf');
        assert.ok(fs.readFileSync(await download.path()).equals(fs.readFileSync(report)));
        await page.locator('.tab[data-tab="media"]').click();
    });

    step('the screen stays on while the pad is shown, and is let go when the page is hidden', async () => {
        // A phone of its own without a pairing: this page must not take the PC from the one above.
        const phone = await launchPhone('en-US');
        try {
            const hide = (p) => p.evaluate(() => {
                Object.defineProperty(document, 'visibilityState', { value: 'hidden', configurable: true });
                document.dispatchEvent(new Event('visibilitychange'));
            });
            // A page served from this PC may use the Screen Wake Lock API; the locks it takes are recorded.
            const locked = await phone.newPage();
            await locked.addInitScript(() => {
                window.wakeLocks = [];
                const request = async (type) => {
                    const sentinel = new EventTarget();
                    sentinel.released = false;
                    sentinel.release = async () => { sentinel.released = true; sentinel.dispatchEvent(new Event('release')); };
                    window.wakeLocks.push({ type, sentinel });
                    return sentinel;
                };
                Object.defineProperty(navigator, 'wakeLock', { value: { request }, configurable: true });
            });
            await locked.goto(BASE);
            const locks = () => locked.evaluate(() => window.wakeLocks.map((l) => `${l.type}:${l.sentinel.released}`).join());
            await waitFor('a screen wake lock on the Pad tab', async () => (await locks()) === 'screen:false', 5000);
            await locked.locator('.tab[data-tab="keys"]').click();
            await waitFor('the lock let go on the Keys tab', async () => (await locks()) === 'screen:true', 5000);
            await locked.locator('.tab[data-tab="media"]').click();
            await waitFor('a new lock on the Media tab', async () => (await locks()) === 'screen:true,screen:false', 5000);
            await hide(locked);
            await waitFor('the lock let go on a hidden page', async () => (await locks()) === 'screen:true,screen:true', 5000);

            // A plain-http page on the LAN has no Wake Lock API: the muted video plays instead.
            const plain = await phone.newPage();
            await plain.addInitScript(() => Object.defineProperty(navigator, 'wakeLock', { value: undefined, configurable: true }));
            await plain.goto(BASE);
            const video = plain.locator('video.keep-awake');
            await waitFor('the video playing', () => video.evaluate((v) => !v.paused && v.muted && v.loop).catch(() => false), 5000);
            await plain.locator('#open-settings').click();
            assert.equal(await plain.locator('#keep-screen-on').isChecked(), true, 'on by default');
            await plain.locator('#keep-screen-on').uncheck();
            await waitFor('the video paused with the setting off', () => video.evaluate((v) => v.paused), 5000);
            await plain.locator('#keep-screen-on').check();
            await waitFor('the video playing again', () => video.evaluate((v) => !v.paused), 5000);
            await hide(plain);
            await waitFor('the video paused on a hidden page', () => video.evaluate((v) => v.paused), 5000);
        } finally {
            await phone.close();
        }
    });

    test('the now-playing bar shows the player the phone started and drives it',
        { skip: !dbusDaemon && 'dbus-daemon is not installed (Debian package dbus-daemon)' }, () => noteFailure(async () => {
            // The file was just opened: the bar is up before any player has said a word.
            await page.locator('#now-playing').waitFor();
            assert.equal(await page.locator('#np-title').textContent(), 'song.mp3');
            const cover = path.join(work, 'cover.png');
            writePng(cover, 96, 96, (x, y) => [30 + x, 70 + y, 190 - x]);
            const calls = path.join(work, 'mpris.log');
            fakePlayer = spawn(path.join(buildDir, 'tests', 'velmora_fakeplayer'), [calls, 'Night Drive', 'The Testers', '215', cover],
                { env, stdio: ['ignore', 'inherit', 'inherit'] });
            await page.locator('#np-title', { hasText: 'Night Drive' }).waitFor();
            await page.locator('#np-art[src^="data:image/jpeg;base64,"]').waitFor();
            assert.match(await page.locator('#np-artist').textContent(), /The Testers/);
            assert.equal(await page.locator('#np-length').textContent(), '3:35');
            assert.equal(await page.locator('#np-toggle').getAttribute('aria-label'), 'Pause');
            if (screenshotDir) {
                await page.locator('#toast.show').waitFor({ state: 'hidden' });
                await page.screenshot({ path: path.join(screenshotDir, 'now-playing.png') });
            }

            await page.locator('#np-toggle').click();
            await page.locator('#np-toggle[aria-label="Play"]').waitFor(); // the player's answer came back
            await page.locator('#np-next').click();
            await page.locator('#np-previous').click();
            const slide = (id, value) => page.locator(id).evaluate((input, v) => {
                input.value = v;
                input.dispatchEvent(new Event('input', { bubbles: true }));
                input.dispatchEvent(new Event('change', { bubbles: true }));
            }, value);
            await slide('#np-seek', '500');
            await slide('#np-volume', '40');
            const lines = await waitFor('the player to get every request',
                () => (contents(calls) || '').split('\n').includes('Volume 0.4') && contents(calls).split('\n'), 10000);
            assert.deepEqual(lines.slice(0, 4), ['PlayPause', 'Next', 'Previous', 'SetPosition /track/1 107500000']);
            assert.match(log, /Media player controlled: org\.mpris\.MediaPlayer2\.velmorafake/);
        }));

    step('the launcher starts a registered application', async () => {
        await page.locator('.tab[data-tab="apps"]').click();
        await page.locator('#apps-list .item-name', { hasText: 'Recorder' }).click();
        assert.deepEqual((await waitFor('the application', () => contents(appLog))).split('\n'), [fs.realpathSync(work), 'hello', 'world']);
    });

    step('the page speaks the browser language: English here, Simplified Chinese in a Chinese browser', async () => {
        const tabs = (p) => p.locator('.tab span').allTextContents();
        assert.deepEqual(await tabs(page), ['Pad', 'Keys', 'Media', 'Apps', 'Files', 'Present']);
        assert.equal(await page.locator('#status-text').textContent(), 'connected');
        const chinese = await launchPhone('zh-CN');
        try {
            const zh = await chinese.newPage();
            zh.on('pageerror', (error) => { throw error; });
            await zh.goto(`${BASE}#token=${token}`);
            await zh.locator('#status[data-state="connected"]').waitFor();
            assert.equal(await zh.locator('html').getAttribute('lang'), 'zh-CN');
            assert.deepEqual(await tabs(zh), ['触控板', '按键', '媒体', '应用', '文件', '演示']);
            assert.equal(await zh.locator('#status-text').textContent(), '已连接');
            assert.equal(await zh.locator('#pair-input').getAttribute('placeholder'), '配对码');
            // This page derived its key with Web Crypto: commands and replies open both ways.
            assert.equal(await zh.evaluate(() => typeof globalThis.crypto.subtle), 'object');
            assert.equal(await zh.locator('#status-lock').getAttribute('aria-label'), '已加密');
            await zh.locator('.tab[data-tab="media"]').click();
            await zh.locator('#media-list .item-name', { hasText: 'Music' }).waitFor();
            await zh.locator('.tab[data-tab="keys"]').click();
            await zh.locator('#type-field').pressSequentially('Zh 7', { delay: 30 });
            await waitFor('the text typed through Web Crypto\'s key', () => typed.includes('Zh 7'), 10000);
            // The phone that was replaced says so in its own language.
            await page.locator('#status[data-state="replaced"]').waitFor();
            assert.equal(await page.locator('#status-text').textContent(), 'another phone took over · tap to reconnect');
        } finally {
            await chinese.close();
        }
    });

    step('every frame after the handshakes was sealed: no command, typed text or listed name went in clear', async () => {
        assert.ok(frames.length > 40, `frames seen: ${frames.length}`);
        assert.deepEqual(frames.filter((frame) => frame.text).map((frame) => String(frame.payload)), []);
        const wire = Buffer.concat(frames.map((frame) => frame.payload)).toString('latin1');
        for (const secret of ['Hello Velmora', 'mousemove', 'keyinput', 'Music', 'Albums', 'song.mp3', 'Recorder',
            'Night Drive', 'The Testers', 'PlayPause', 'mediastatus']) {
            assert.ok(!wire.includes(secret), secret);
        }
        assert.doesNotMatch(log, /Web client sent .* connection closed/); // no frame failed to open
    });

    test('the link that velmora --pair prints in a terminal opens the client and pairs', (t) => noteFailure(async () => {
        const pair = spawnSync(path.join(buildDir, 'velmora'), ['--pair'],
            { env: { ...env, LANG: 'C.UTF-8', LANGUAGE: 'en' }, encoding: 'utf8', timeout: 20000 });
        if (pair.status === 1 && pair.stderr.includes('no network address')) {
            t.skip('this machine has no LAN address to print');
            return;
        }
        assert.equal(pair.status, 0, pair.stderr);
        const link = /^http:\/\/\S+:6888\/#token=[0-9a-f]{32}$/m.exec(pair.stdout)?.[0];
        assert.ok(link?.endsWith(`#token=${token}`), pair.stdout);
        assert.ok(!log.includes(token), 'the running copy does not log the link');
        const phone = await browser.newPage();
        await phone.goto(link);
        await phone.locator('#status[data-state="connected"]').waitFor();
        await phone.close();
    }));
});
