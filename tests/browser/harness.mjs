// What the browser tests share: waiting for a condition, the X pointer, a phone's browser and a
// finger on the pad.

import { execFileSync } from 'node:child_process';
import fs from 'node:fs';

import { chromium } from 'playwright-core';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function waitFor(what, check, timeout = 20000) {
    for (const end = Date.now() + timeout; ; await sleep(100)) {
        const value = await check();
        if (value) return value;
        if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    }
}

export const pointer = () => {
    const [x, y] = /x:(-?\d+) y:(-?\d+)/.exec(execFileSync('xdotool', ['getmouselocation'], { encoding: 'utf8' })).slice(1);
    return { x: Number(x), y: Number(y) };
};

// A phone's browser whose language is `locale`, with its profile in a new folder under `parent`.
// VELMORA_CHROMIUM names another browser program (a wrapper that starts it elsewhere, say).
export function launchPhone(parent, locale) {
    return chromium.launchPersistentContext(fs.mkdtempSync(`${parent}/chromium-`), {
        executablePath: process.env.VELMORA_CHROMIUM ?? '/usr/bin/chromium',
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync'],
        hasTouch: true, isMobile: true, viewport: { width: 390, height: 760 }, deviceScaleFactor: 1, locale,
    });
}

// One finger on the pad: down at the centre, eight moves to (dx, dy) in CSS pixels, up. Without
// a move it is a tap.
export async function swipe(page, dx, dy) {
    const box = await page.locator('#pad').boundingBox();
    const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
    const cdp = await page.context().newCDPSession(page);
    const touch = (type, touchPoints) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints });
    await touch('touchStart', [{ x, y, id: 1 }]);
    for (let i = 1; i <= 8 && (dx || dy); i += 1) {
        await sleep(16);
        await touch('touchMove', [{ x: x + (dx * i) / 8, y: y + (dy * i) / 8, id: 1 }]);
    }
    await touch('touchEnd', []);
    await cdp.detach();
}
