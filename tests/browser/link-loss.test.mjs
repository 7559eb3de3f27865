// The web client in headless Chromium on a phone namespace of its own against the real program,
// as scripts/test.d/link-loss sets them up: the link is lost silently for 15 s while the user
// goes on swiping, tapping and typing; the PC moves to another address while the page is open;
// the PC refuses the phone for a while. Run through that script (it needs the namespaces, the
// X display and the program it starts).

import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { promisify } from 'node:util';

import { launchPhone, pointer, sleep, swipe, waitFor } from './harness.mjs';

const logFile = process.env.VELMORA_LINK_LOG;
const pcName = process.env.VELMORA_LINK_NAME;
// The addresses and the PC's end of the veth pair that scripts/test.d/link-loss sets up; the
// phone's hosts file names the PC at MOVED.
const [PC, MOVED, PHONE, PC_LINK] = ['10.78.0.1', '10.78.0.9', '10.78.0.2', 'vpc'];

const log = () => fs.readFileSync(logFile, 'utf8');
const seconds = (ms) => (ms / 1000).toFixed(1);
const pointerNow = async () => {
    const { stdout } = await promisify(execFile)('xdotool', ['getmouselocation'], { encoding: 'utf8' });
    const [x, y] = /x:(-?\d+) y:(-?\d+)/.exec(stdout).slice(1);
    return { x: Number(x), y: Number(y) };
};

// The commands the PC ran, from its log, after the log had `from` characters.
const ranSince = (from) => [...log().slice(from).matchAll(/Receive => +QJsonObject\((.*)\)$/gm)].map((m) => JSON.parse(m[1]));

// Silent: every packet between phone and PC is dropped on the PC's side, both ways, as when
// the phone leaves the Wi-Fi without a word. Refused: the PC answers the phone's packets with a
// reset, so every attempt fails at once.
const SILENT = [['INPUT', '-s', PHONE, '-j', 'DROP'], ['OUTPUT', '-d', PHONE, '-j', 'DROP']];
const REFUSED = [['INPUT', '-s', PHONE, '-p', 'tcp', '-j', 'REJECT', '--reject-with', 'tcp-reset']];
const applied = new Set();
// What a page asks the PC each time it has paired.
const OPENING = new Set(['mediastatus', 'volumestatus', 'buttonlist', 'powerstatus']);
function rules(list, on) {
    for (const rule of list) execFileSync('iptables', [on ? '-I' : '-D', ...rule]);
    if (on) applied.add(list);
    else applied.delete(list);
}

// What the status pill showed, and when (the page's clock is this machine's).
function recordPill() {
    window.velmoraPill = [];
    addEventListener('DOMContentLoaded', () => {
        const status = document.getElementById('status');
        const note = () => window.velmoraPill.push({
            state: status.dataset.state, text: document.getElementById('status-text').textContent, at: Date.now(),
        });
        note();
        new MutationObserver(note).observe(status, { attributes: true, subtree: true, childList: true, characterData: true });
    });
}

describe('the link between the web client and the PC', { timeout: 300000 }, () => {
    let browser;
    let page;
    let token;
    // Every WebSocket frame, its direction and when it passed.
    const frames = [];
    const pill = async (since) => (await page.evaluate(() => window.velmoraPill).catch(() => []))
        .filter((entry) => entry.at >= since);
    const stateIs = async (state) => (await page.locator('#status').getAttribute('data-state').catch(() => null)) === state;

    before(async () => {
        token = await waitFor('the pairing token', () => /^token=([0-9a-f]{32})\s*$/m.exec(fs.readFileSync(process.env.VELMORA_LINK_CONFIG, 'utf8'))?.[1]);
        browser = await launchPhone(process.env.VELMORA_LINK_HOME, 'en-US');
        await browser.addInitScript(recordPill);
        page = browser.pages()[0] ?? await browser.newPage();
        page.on('websocket', (ws) => {
            ws.on('framesent', () => frames.push({ sent: true, at: Date.now() }));
            ws.on('framereceived', () => frames.push({ sent: false, at: Date.now() }));
        });
        await page.goto(`http://${PC}:6888/#token=${token}`);
        await page.locator('#status[data-state="connected"]').waitFor({ timeout: 30000 });
    });

    after(async () => {
        for (const list of [...applied]) rules(list, false);
        await browser?.close();
    });

    test('a silent loss: the page gives the link up, nothing made meanwhile reaches the PC, a new swipe does at once', async () => {
        execFileSync('xdotool', ['mousemove', '900', '600']);
        await swipe(page, 100, 0);
        await waitFor('the pointer to follow the pad', () => pointer().x > 920, 5000);
        const still = pointer();
        const mark = log().length;
        rules(SILENT, true);
        const lossStart = Date.now();
        let silentLogged = 0;
        const silentLine = `Web client went silent for 10 s, connection dropped: ${PHONE}`;
        const watch = (async () => {
            while (!silentLogged && Date.now() - lossStart < 30000) {
                if (log().includes(silentLine)) silentLogged = Date.now();
                else await sleep(100);
            }
        })();

        // Swipes up, taps and text, spread over 15 s: before the page can know, and after.
        const at = (ms) => sleep(Math.max(0, lossStart + ms - Date.now()));
        const type = async (text) => {
            await page.locator('.tab[data-tab="keys"]').click();
            await page.locator('#type-field').press('End'); // after what is there already
            await page.locator('#type-field').pressSequentially(text, { delay: 20 });
            await page.locator('.tab[data-tab="pad"]').click();
        };
        await at(500);
        await swipe(page, 0, -80);
        await at(1500);
        await swipe(page, 0, 0);
        await at(2200);
        await type('early');
        await at(5000);
        await swipe(page, 0, -80);
        await at(6500);
        await swipe(page, 0, 0);
        await at(8000);
        await type(' late');
        await at(11000);
        await swipe(page, 0, -80);
        await at(12500);
        await swipe(page, 0, 0);
        await at(15000);
        rules(SILENT, false);
        const lossEnd = Date.now();
        assert.deepEqual(await pointerNow(), still, 'nothing moved the pointer during the loss');

        // New swipes to the right until the pointer follows.
        let moved = 0;
        const follow = (async () => {
            while (!moved && Date.now() - lossEnd < 15000) {
                if ((await pointerNow()).x > still.x) moved = Date.now();
                else await sleep(20);
            }
        })();
        while (!moved && Date.now() - lossEnd < 15000) {
            await swipe(page, 60, 0);
            await sleep(50);
        }
        await follow;
        await watch;
        assert.ok(moved, 'no new swipe moved the pointer within 15 s of the loss');
        const left = (await pill(lossStart)).find((entry) => entry.state !== 'connected');
        assert.ok(left, 'the page never left "connected"');
        console.log(`link-loss: the page left "connected" ${seconds(left.at - lossStart)} s after the loss began ("${left.text}"); `
            + `the PC logged the silent phone after ${silentLogged ? seconds(silentLogged - lossStart) : '-'} s; `
            + `the first new swipe moved the pointer ${seconds(moved - lossEnd)} s after the loss ended`);

        // What was made during the loss would come now if it were replayed: watch a while.
        await sleep(3000);
        const newSwipe = (c) => c.command === 'mousemove' && c.params.dy === 0 && c.params.dx > 0;
        assert.deepEqual(ranSince(mark).filter((c) => !newSwipe(c) && !OPENING.has(c.command)), [],
            'only the new swipes to the right ran');
        assert.equal((await pointerNow()).y, still.y, 'no swipe up made during the loss moved the pointer afterwards');
        await page.locator('.tab[data-tab="keys"]').click();
        assert.equal(await page.locator('#type-field').inputValue(), 'early late', 'the text stays in the field');
        await page.locator('.tab[data-tab="pad"]').click();
        assert.ok(left.at - lossStart <= 5000, `the page left "connected" only after ${seconds(left.at - lossStart)} s`);
        assert.ok(silentLogged && silentLogged - lossStart <= 15000, 'the PC did not log the silent phone within 15 s');
        assert.ok(moved - lossEnd <= 2000, `the first new move came ${seconds(moved - lossEnd)} s after the loss`);
    });

    test('the PC moves to another address: the page finds it by its name and pairs there', async () => {
        const start = Date.now();
        execFileSync('ip', ['addr', 'del', `${PC}/24`, 'dev', PC_LINK]);
        execFileSync('ip', ['addr', 'add', `${MOVED}/24`, 'dev', PC_LINK]);
        await waitFor('the page connected at the PC\'s name', async () => {
            const url = new URL(page.url());
            return url.host === `${pcName}.local:6888` && !url.hash.includes(token) && await stateIs('connected');
        }, 90000);
        const found = Date.now();
        execFileSync('xdotool', ['mousemove', '900', '600']);
        await swipe(page, 100, 0);
        await waitFor('the pointer to follow the pad', () => pointer().x > 920, 5000);
        console.log(`link-loss: after the PC moved to ${MOVED}, the page was connected at ${pcName}.local after ${seconds(found - start)} s`);
    });

    test('the back-off starts again once a link answered a ping, even one that lasted under 3 s', async () => {
        const start = Date.now();
        rules(REFUSED, true);
        await waitFor('the pauses between attempts to grow', async () => (await pill(start)).some((e) => /retry in ([2-9]|\d\d) s/.test(e.text)), 60000);
        rules(REFUSED, false);
        const back = await waitFor('the page to connect by itself', async () => (await pill(start)).findLast((e) => e.state === 'connected'), 20000);
        // The page's first ping after a second of quiet, then the PC's answer to it.
        const ping = await waitFor('a ping', () => frames.find((f) => f.sent && f.at >= back.at + 500), 10000);
        await waitFor('its answer', () => frames.find((f) => !f.sent && f.at > ping.at), 5000);
        rules(REFUSED, true);
        const lost = await waitFor('the link to break', async () => (await pill(back.at)).find((e) => e.state === 'waiting'), 10000);
        console.log(`link-loss: a link that answered a ping and lasted ${seconds(lost.at - back.at)} s was followed by "${lost.text}"`);
        assert.equal(lost.text, 'offline · retrying', 'the first pause after the answered ping is the shortest');
        rules(REFUSED, false);
        await waitFor('the page back', () => stateIs('connected'), 5000);
    });
});
