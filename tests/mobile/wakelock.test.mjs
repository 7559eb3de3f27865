// Keeping the phone's screen on: which tabs want it, and that the lock or the
// fallback video is taken and given back as the page, tab and setting change.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { DEFAULT_SETTINGS, sanitizeSettings } from '../../mobile/js/settings.js';
import { ScreenKeeper, wantsScreenOn } from '../../mobile/js/wakelock.js';

class FakeSentinel extends EventTarget {
    released = false;
    async release() {
        if (this.released) return;
        this.released = true;
        this.dispatchEvent(new Event('release'));
    }
}

// navigator.wakeLock as a test drives it: every request is recorded and
// answered (or refused) when the test says so.
function fakeWakeLock({ refuse = false } = {}) {
    const requests = [];
    return {
        requests,
        request(type) {
            let settle;
            const promise = new Promise((resolve, reject) => {
                settle = () => (refuse ? reject(new DOMException('denied', 'NotAllowedError')) : resolve(new FakeSentinel()));
            });
            requests.push({ type, settle, promise });
            return promise;
        },
    };
}

function fakeVideo({ blockedUntilGesture = false } = {}) {
    const video = {
        paused: true,
        plays: 0,
        allowed: !blockedUntilGesture,
        async play() {
            video.plays++;
            if (!video.allowed) throw new DOMException('gesture needed', 'NotAllowedError');
            video.paused = false;
        },
        pause() {
            video.paused = true;
        },
    };
    return video;
}

const answer = async (lock, i = lock.requests.length - 1) => {
    lock.requests[i].settle();
    return lock.requests[i].promise.catch(() => null);
};
const settle = () => new Promise((resolve) => setTimeout(resolve, 0));

describe('when the screen should stay on', () => {
    test('on by default, on the Pad and Media tabs of a visible page only', () => {
        assert.equal(DEFAULT_SETTINGS.keepScreenOn, true);
        assert.equal(sanitizeSettings({ keepScreenOn: false }).keepScreenOn, false);
        assert.equal(wantsScreenOn({ enabled: true, tab: 'pad', visible: true }), true);
        assert.equal(wantsScreenOn({ enabled: true, tab: 'media', visible: true }), true);
        assert.equal(wantsScreenOn({ enabled: true, tab: 'present', visible: true }), true);
        for (const tab of ['keys', 'apps', 'anything']) assert.equal(wantsScreenOn({ enabled: true, tab, visible: true }), false);
        assert.equal(wantsScreenOn({ enabled: true, tab: 'pad', visible: false }), false);
        assert.equal(wantsScreenOn({ enabled: false, tab: 'pad', visible: true }), false);
    });
});

describe('with the Screen Wake Lock API', () => {
    test('one screen lock while wanted, released when not, asked anew after the browser dropped it', async () => {
        const lock = fakeWakeLock();
        let videos = 0;
        const keeper = new ScreenKeeper({ wakeLock: lock, makeVideo: () => (videos++, fakeVideo()) });
        keeper.update(true);
        keeper.update(true); // a second update while the first asks: no second request
        assert.equal(lock.requests.length, 1);
        assert.equal(lock.requests[0].type, 'screen');
        const sentinel = await answer(lock);
        await settle();
        assert.equal(keeper.mode, 'wakelock');

        await keeper.update(false);
        assert.equal(sentinel.released, true);
        assert.equal(keeper.mode, 'off');

        keeper.update(true);
        const second = await answer(lock);
        await settle();
        await second.release(); // the page was hidden: the browser lets go
        assert.equal(keeper.mode, 'off');
        keeper.update(true); // visible again
        assert.equal(lock.requests.length, 3);
        assert.equal(videos, 0);
    });

    test('a lock granted after the user turned it off is given back at once', async () => {
        const lock = fakeWakeLock();
        const keeper = new ScreenKeeper({ wakeLock: lock, makeVideo: fakeVideo });
        const holding = keeper.update(true);
        keeper.update(false);
        const sentinel = await answer(lock);
        await holding;
        assert.equal(sentinel.released, true);
        assert.equal(keeper.mode, 'off');
    });

    test('a refused lock falls back to the video', async () => {
        const lock = fakeWakeLock({ refuse: true });
        const video = fakeVideo();
        const keeper = new ScreenKeeper({ wakeLock: lock, makeVideo: () => video });
        const holding = keeper.update(true);
        await answer(lock);
        await holding;
        assert.equal(keeper.mode, 'video');
        assert.equal(video.paused, false);
    });
});

describe('without it (plain-http pages)', () => {
    test('the muted video plays while wanted and pauses when not', async () => {
        const video = fakeVideo();
        const keeper = new ScreenKeeper({ wakeLock: undefined, makeVideo: () => video });
        await keeper.update(true);
        assert.equal(keeper.mode, 'video');
        assert.equal(video.paused, false);
        await keeper.update(false);
        assert.equal(video.paused, true);
        await keeper.update(true);
        assert.equal(video.paused, false);
    });

    test('a video the browser holds back until a touch starts on the next touch', async () => {
        const video = fakeVideo({ blockedUntilGesture: true });
        const keeper = new ScreenKeeper({ wakeLock: null, makeVideo: () => video });
        await keeper.update(true);
        assert.equal(video.paused, true);
        video.allowed = true;
        await keeper.retry();
        assert.equal(video.paused, false);
        await keeper.update(false);
        await keeper.retry(); // not wanted: a touch does not start it
        assert.equal(video.paused, true);
    });
});
