// One finger on the web client's Pad in headless Chromium, against the real program, to X
// pointer motion: CDP touch events go in, bench_xmotion_recorder timestamps every X motion, and
// the page notes (without a change to the client) when each pointermove reached it and when
// the movement it carried was sent. Prints p50/p90/p99/max for a continuous stroke (120 moves a
// second) and for moves 25 ms apart, split into the browser's delivery (dispatch -> the page's
// pointermove), the page (pointermove -> WebSocket send) and the PC (send -> X motion).
//   node bench/e2e/pad_latency.mjs <page address> <token> <recorder> [label]
// Times are on CLOCK_MONOTONIC: Node's clock is, the recorder's is, and the page's
// performance.now() is mapped to it by the closest of many round trips (its error is printed).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

const { chromium } = createRequire(new URL('../../tests/browser/package.json', import.meta.url))('playwright-core');
const [base, token, recorder, label = ''] = process.argv.slice(2);
const now = () => Number(process.hrtime.bigint()) / 1e6; // ms, CLOCK_MONOTONIC
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const STROKES = 4;
const STROKE_MOVES = 240; // 2 s each at 120 a second
const SPACED_MOVES = 120;
const TAP_MS = 150; // moves this early in a touch are left out

// In the page before its scripts: every pointermove's arrival and coalesced count, and every
// movement sent, whether from within a pointermove (the handler) or later (a frame, a timer).
function instrument() {
    const log = { events: [], sends: [] };
    window.__pad = log;
    const arrival = new WeakMap();
    addEventListener('pointermove', (event) => {
        const n = typeof event.getCoalescedEvents === 'function' ? event.getCoalescedEvents().length : 1;
        const entry = { at: performance.now(), n: Math.max(n, 1), send: null };
        arrival.set(event, entry);
        log.events.push(entry);
    }, { capture: true });
    // The client seals every message with nacl.secretbox: its plain text says which are moves.
    let lastWasMove = false;
    const box = {};
    let wrapped = null;
    Object.defineProperty(box, 'secretbox', {
        configurable: true, enumerable: true,
        get: () => wrapped,
        set(real) {
            wrapped = function secretbox(message, nonce, key) {
                lastWasMove = new TextDecoder().decode(message).includes('"mousemove"');
                return real(message, nonce, key);
            };
        },
    });
    self.nacl = box;
    const send = WebSocket.prototype.send;
    WebSocket.prototype.send = function (data) {
        if (lastWasMove) {
            const at = performance.now();
            const entry = window.event?.type === 'pointermove' ? arrival.get(window.event) : undefined;
            if (entry && entry.send === null) entry.send = at;
            log.sends.push({ at, fromHandler: entry !== undefined });
            lastWasMove = false;
        }
        return send.call(this, data);
    };
}

const quantile = (values, q) => {
    if (values.length === 0) return NaN;
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.ceil(q * sorted.length) - 1)];
};
const row = (name, values) => `  ${name.padEnd(26)} ${[0.5, 0.9, 0.99, 1].map((q) => quantile(values, q).toFixed(2).padStart(7)).join(' ')}   (${values.length})`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-e2e-'));
const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.VELMORA_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    hasTouch: true, isMobile: true, viewport: { width: 390, height: 760 }, deviceScaleFactor: 1,
});
try {
    const page = context.pages()[0] ?? await context.newPage();
    await page.addInitScript(instrument);
    await page.goto(`${base}#token=${token}`);
    await page.locator('#status[data-state="connected"]').waitFor({ timeout: 30000 });
    const box = await page.locator('#pad').boundingBox();
    const cdp = await context.newCDPSession(page);

    // The page's clock against ours: the round trip that took least bounds the error.
    let offset = 0;
    let best = Infinity;
    for (let i = 0; i < 60; i += 1) {
        const t0 = now();
        const { result } = await cdp.send('Runtime.evaluate', { expression: 'performance.now()', returnByValue: true });
        const t1 = now();
        if (t1 - t0 < best) [best, offset] = [t1 - t0, (t0 + t1) / 2 - result.value];
    }

    // A circle of 80 px around the pad's centre: every move goes 2 px further.
    const centre = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    let angle = 0;
    const point = () => [{ x: centre.x + 80 * Math.cos(angle), y: centre.y + 80 * Math.sin(angle), id: 1 }];
    const touch = (type, touchPoints) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints });

    const runScenario = async (strokes, moves, gapMs) => {
        const dispatched = [];
        await page.evaluate(() => { window.__pad.events.length = 0; window.__pad.sends.length = 0; });
        const seconds = (strokes * (moves * gapMs + 800)) / 1000 + 2;
        const rec = spawn(recorder, [String(seconds)], { stdio: ['ignore', 'pipe', 'pipe'] });
        let out = '';
        rec.stdout.on('data', (d) => { out += d; });
        await new Promise((resolve, reject) => {
            rec.stderr.on('data', (d) => String(d).includes('ready') && resolve());
            rec.once('exit', () => reject(new Error('the recorder ended early')));
        });
        const finished = new Promise((resolve) => rec.once('exit', resolve));
        const pending = [];
        for (let s = 0; s < strokes; s += 1) {
            await touch('touchStart', point());
            await sleep(100);
            const start = now();
            for (let i = 0; i < moves; i += 1) {
                const wait = start + i * gapMs - now();
                if (wait > 0) await sleep(wait);
                angle += 2 / 80;
                // While a touch may still be a tap, the client holds its movement back on purpose.
                dispatched.push({ at: now(), counted: i * gapMs >= TAP_MS });
                pending.push(touch('touchMove', point()));
            }
            await Promise.all(pending);
            await sleep(300);
            await touch('touchEnd', []);
            await sleep(400);
        }
        await finished;
        const motions = out.trim().split('\n').filter(Boolean).map((line) => Number(line) * 1000);
        const log = await page.evaluate(() => window.__pad);
        const map = (t) => t + offset;

        // Each pointermove carries the next n dispatched moves. Its movement goes out with the
        // send in its handler or, where the client waits (for a frame, say), with the first
        // movement sent after it. The X motion of a send is the first one not taken yet that
        // comes after it (within the clock mapping's error).
        const result = { delivery: [], page: [], pc: [], whole: [] };
        let motion = 0;
        const motionAfter = (at) => {
            while (motion < motions.length && motions[motion] < at - best / 2) motion += 1;
            return motion < motions.length ? motions[motion++] : undefined;
        };
        const sendMotion = new Map(log.sends.map((send) => [send.at, motionAfter(map(send.at))]));
        let next = 0;
        let later = 0;
        for (const event of log.events) {
            const covered = dispatched.slice(next, next + event.n).filter((move) => move.counted);
            next += event.n;
            while (later < log.sends.length && log.sends[later].at < event.at) later += 1;
            const send = event.send ?? log.sends[later]?.at;
            const x = send === undefined ? undefined : sendMotion.get(send);
            if (covered.length === 0 || x === undefined) continue;
            result.page.push(send - event.at);
            result.pc.push(x - map(send));
            for (const move of covered) {
                result.delivery.push(map(event.at) - move.at);
                result.whole.push(x - move.at);
            }
        }
        result.counts = `${dispatched.length} moves dispatched, ${log.events.length} pointermoves, `
            + `${log.sends.length} movement messages (${log.sends.filter((send) => send.fromHandler).length} from the handler), ${motions.length} X motions; the moves of each touch's first ${TAP_MS} ms left out`;
        return result;
    };

    const print = (name, r) => {
        console.log(`${label}${name}: ${r.counts}`);
        console.log(`  ${'ms'.padEnd(26)} ${['p50', 'p90', 'p99', 'max'].map((h) => h.padStart(7)).join(' ')}   (samples)`);
        console.log(row('browser delivery', r.delivery));
        console.log(row('page (handler -> send)', r.page));
        console.log(row('PC (send -> X motion)', r.pc));
        console.log(row('whole (dispatch -> X)', r.whole));
    };
    console.log(`${label}clock mapping: closest round trip ${best.toFixed(2)} ms (error at most half of it)`);
    print('continuous stroke, 120 moves/s', await runScenario(STROKES, STROKE_MOVES, 1000 / 120));
    print('spaced moves, 25 ms apart', await runScenario(1, SPACED_MOVES, 25));
} finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
}
