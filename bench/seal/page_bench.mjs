// What sealing costs the page: time per "mousemove" message sealed against only encoded, and
// frames of a 60 Hz loop that sends 4 moves a frame (240 moves/s) missed, sealed against
// clear, in headless Chromium with the CPU slowed down 4x (CDP Emulation.setCPUThrottlingRate).
//
//   node bench/seal/page_bench.mjs <build dir> [rounds] [loop seconds] [slow-down]
//
// Uses the build's mobile/ folder (with TweetNaCl-js) and tests/browser's playwright-core.

import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('../..', import.meta.url));
const require = createRequire(path.join(root, 'tests/browser/package.json'));
const { chromium } = require('playwright-core');
const build = path.resolve(process.argv[2] ?? path.join(root, 'build'));
const [rounds, seconds, slowDown] = [Number(process.argv[3] ?? 5), Number(process.argv[4] ?? 5), Number(process.argv[5] ?? 4)];

const types = { '.js': 'text/javascript', '.html': 'text/html' };
const server = http.createServer((request, response) => {
    if (request.url === '/bench.html') {
        response.writeHead(200, { 'Content-Type': 'text/html' });
        response.end('<!doctype html><script src="js/vendor/nacl-fast.min.js"></script><p>bench</p>');
        return;
    }
    const file = path.join(build, 'mobile', path.normalize(request.url));
    if (!file.startsWith(path.join(build, 'mobile')) || !fs.existsSync(file)) {
        response.writeHead(404).end();
        return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(fs.readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const browser = await chromium.launch({
    executablePath: process.env.VELMORA_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu'],
});
const page = await browser.newPage();
await page.goto(`http://127.0.0.1:${server.address().port}/bench.html`);
const cdp = await page.context().newCDPSession(page);
await cdp.send('Emulation.setCPUThrottlingRate', { rate: slowDown });

const result = await page.evaluate(async ({ rounds, seconds }) => {
    const { deriveKey, Seal, TO_PC } = await import('/js/seal.js');
    const { encode, mouseMove } = await import('/js/protocol.js');
    const key = await deriveKey('0123456789abcdef0123456789abcdef', new Uint8Array(32), new Uint8Array(32), null);
    const seal = new Seal(key, TO_PC);
    const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];
    const send = (sealed, i) => {
        const text = encode(mouseMove((i % 5) + 1, -2));
        return sealed ? seal.seal(text) : text;
    };
    // Per message: many in a row, since the page's clock is coarse.
    const perMessage = (sealed) => {
        const count = 2000;
        const start = performance.now();
        let bytes = 0;
        for (let i = 0; i < count; i += 1) bytes += send(sealed, i).length;
        globalThis.sink = bytes; // keeps the work from being optimised away
        return ((performance.now() - start) * 1000) / count;
    };
    // A 60 Hz loop sending 4 moves a frame; a gap of more than 1.5 frames counts as a miss.
    const loop = (sealed) => new Promise((resolve) => {
        let last = null;
        let frames = 0;
        let missed = 0;
        let worst = 0;
        let i = 0;
        const end = performance.now() + seconds * 1000;
        const frame = (now) => {
            if (last !== null) {
                const gap = now - last;
                worst = Math.max(worst, gap);
                if (gap > 1.5 * (1000 / 60)) missed += 1;
            }
            last = now;
            frames += 1;
            for (let k = 0; k < 4; k += 1) send(sealed, i++);
            if (now < end) requestAnimationFrame(frame);
            else resolve({ frames, missed, worst });
        };
        requestAnimationFrame(frame);
    });
    const clear = [];
    const sealed = [];
    for (let r = 0; r < rounds; r += 1) {
        clear.push(perMessage(false));
        sealed.push(perMessage(true));
    }
    return {
        clearUs: median(clear),
        sealedUs: median(sealed),
        loopClear: await loop(false),
        loopSealed: await loop(true),
    };
}, { rounds, seconds });

console.log(`Chromium ${browser.version()}, CPU slowed down ${slowDown}x`);
console.log(`per move, encoded only:        ${result.clearUs.toFixed(1)} us`);
console.log(`per move, encoded and sealed:  ${result.sealedUs.toFixed(1)} us (${(result.sealedUs / result.clearUs).toFixed(1)}x)`);
for (const [name, loop] of [['clear', result.loopClear], ['sealed', result.loopSealed]]) {
    console.log(`60 Hz loop, 4 moves a frame, ${name}: ${loop.frames} frames, ${loop.missed} missed, longest gap ${loop.worst.toFixed(1)} ms`);
}
await browser.close();
server.close();
