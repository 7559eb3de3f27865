import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { DEFAULTS, GestureRecognizer, pixelRatioGain } from '../../mobile/js/gestures.js';

// Gain 1 and no acceleration, so expected pointer moves are plain arithmetic.
function make(options = {}) {
    return new GestureRecognizer({ sensitivity: 1, pixelRatio: 2, acceleration: 0, wallClock: () => 42, ...options });
}

const names = (cmds) => cmds.map((c) => c.command);
const clicks = (cmds) => cmds.filter((c) => c.command === 'mouseclick');
const sumMoves = (cmds) =>
    cmds.filter((c) => c.command === 'mousemove').reduce((s, c) => ({ x: s.x + c.params.dx, y: s.y + c.params.dy }), { x: 0, y: 0 });

// A one-finger tap at (x, y) starting at t, lifting 60 ms later.
function tap(g, t, x = 100, y = 100, id = 1) {
    return [...g.down({ id, x, y, t }), ...g.up({ id, x, y, t: t + 60 })];
}

describe('taps and clicks', () => {
    test('a single tap clicks once, only after the double-tap window has passed', () => {
        const g = make();
        const early = [...tap(g, 0), ...g.frame(100), ...g.tick(200)];
        assert.deepEqual(early, []);
        const deadline = g.nextDeadline();
        assert.ok(Number.isFinite(deadline) && deadline > 60 + DEFAULTS.doubleTapMs - 1);
        const out = g.tick(deadline);
        assert.deepEqual(out, [{ command: 'mouseclick', params: { button: 'left', double: false, timestamp: 42 } }]);
        assert.deepEqual(g.tick(deadline + 1000), []);
    });

    test('two quick taps make exactly one double click and no single clicks', () => {
        const g = make();
        const out = [...tap(g, 0), ...tap(g, 200, 104, 98, 2), ...g.tick(5000), ...g.frame(5000)];
        assert.deepEqual(clicks(out), [{ command: 'mouseclick', params: { button: 'left', double: true, timestamp: 42 } }]);
    });

    test('taps too far apart in time or place are two single clicks', () => {
        const slow = make();
        const late = [...tap(slow, 0), ...tap(slow, 60 + DEFAULTS.doubleTapMs + 50), ...slow.tick(10000)];
        assert.deepEqual(clicks(late).map((c) => c.params.double), [false, false]);

        const apart = make();
        const far = [...tap(apart, 0, 20, 20), ...tap(apart, 150, 300, 300, 2), ...apart.tick(10000)];
        assert.deepEqual(clicks(far).map((c) => c.params.double), [false, false]);
    });

    test('a tap followed by a stroke clicks before the pointer moves', () => {
        const g = make();
        const out = [...tap(g, 0)];
        out.push(...g.down({ id: 2, x: 100, y: 100, t: 150 }));
        out.push(...g.move({ id: 2, x: 140, y: 100, t: 170 }));
        out.push(...g.frame(180));
        assert.deepEqual(names(out), ['mouseclick', 'mousemove']);
        assert.equal(out[0].params.double, false);
        assert.deepEqual(out[1].params, { dx: 40, dy: 0 });
    });

    test("a tap's small jitter never moves the pointer", () => {
        const g = make();
        const out = [...g.down({ id: 1, x: 100, y: 100, t: 0 })];
        out.push(...g.move({ id: 1, x: 104, y: 103, t: 20 }), ...g.frame(30));
        out.push(...g.up({ id: 1, x: 105, y: 103, t: 70 }), ...g.frame(80), ...g.tick(10000));
        assert.deepEqual(names(out), ['mouseclick']);
    });

    test('a second touch that is held too long turns the first tap into a single click', () => {
        const g = make();
        const out = [...tap(g, 0), ...g.down({ id: 2, x: 100, y: 100, t: 150 })];
        out.push(...g.tick(150 + DEFAULTS.tapMaxMs + 1));
        assert.deepEqual(clicks(out).map((c) => c.params.double), [false]);
    });

    test('two- and three-finger taps give right and middle clicks', () => {
        const two = make();
        const out2 = [
            ...two.down({ id: 1, x: 100, y: 100, t: 0 }),
            ...two.down({ id: 2, x: 160, y: 100, t: 30 }),
            ...two.up({ id: 1, x: 100, y: 100, t: 120 }),
            ...two.up({ id: 2, x: 160, y: 100, t: 150 }),
            ...two.tick(5000),
        ];
        assert.deepEqual(out2, [{ command: 'mouseclick', params: { button: 'right', double: false, timestamp: 42 } }]);

        const three = make();
        const out3 = [
            ...three.down({ id: 1, x: 100, y: 100, t: 0 }),
            ...three.down({ id: 2, x: 150, y: 100, t: 20 }),
            ...three.down({ id: 3, x: 200, y: 100, t: 40 }),
            ...three.up({ id: 1, x: 100, y: 100, t: 120 }),
            ...three.up({ id: 2, x: 150, y: 100, t: 130 }),
            ...three.up({ id: 3, x: 200, y: 100, t: 140 }),
        ];
        assert.deepEqual(clicks(out3).map((c) => c.params.button), ['middle']);
    });

    test('a cancelled touch is never a tap', () => {
        const g = make();
        const out = [...g.down({ id: 1, x: 10, y: 10, t: 0 }), ...g.cancel({ id: 1, x: 10, y: 10, t: 50 }), ...g.tick(10000)];
        assert.deepEqual(out, []);
    });
});

describe('two-finger scrolling', () => {
    function scroll(g, dy) {
        const out = [...g.down({ id: 1, x: 100, y: 200, t: 0 }), ...g.down({ id: 2, x: 160, y: 200, t: 10 })];
        for (let i = 1; i <= 10; i += 1) {
            out.push(...g.move({ id: 1, x: 100, y: 200 + (dy * i) / 10, t: 10 + i * 16 }));
            out.push(...g.move({ id: 2, x: 160, y: 200 + (dy * i) / 10, t: 10 + i * 16 }));
            out.push(...g.frame(12 + i * 16));
        }
        out.push(...g.up({ id: 1, x: 100, y: 200 + dy, t: 300 }), ...g.up({ id: 2, x: 160, y: 200 + dy, t: 310 }));
        return out;
    }
    const wheel = (cmds) => cmds.filter((c) => c.command === 'mousewheel').reduce((s, c) => s + c.params.amount, 0);

    test('fingers moving down scroll up in whole notches, without moving or clicking', () => {
        const out = scroll(make({ scrollStep: 20 }), 130);
        assert.equal(wheel(out), 6); // 130 / 20, remainder dropped
        assert.deepEqual([...new Set(names(out))], ['mousewheel']);
        assert.ok(out.every((c) => Number.isInteger(c.params.amount)));
    });

    test('direction follows the natural-scrolling choice', () => {
        assert.equal(wheel(scroll(make({ scrollStep: 20 }), -100)), -5);
        assert.equal(wheel(scroll(make({ scrollStep: 20, naturalScroll: false }), 100)), -5);
    });
});

describe('press and hold drags', () => {
    test('hold sends mousedown, then moves, then mouseup at the lift', () => {
        const g = make();
        const out = [...g.down({ id: 1, x: 50, y: 50, t: 0 })];
        assert.equal(g.nextDeadline(), DEFAULTS.holdMs);
        out.push(...g.tick(DEFAULTS.holdMs));
        assert.ok(g.isDragging);
        out.push(...g.move({ id: 1, x: 80, y: 60, t: 600 }), ...g.frame(610));
        // Movement after the last frame still lands before the release.
        out.push(...g.move({ id: 1, x: 90, y: 70, t: 620 }), ...g.up({ id: 1, x: 90, y: 70, t: 630 }));
        assert.deepEqual(names(out), ['mousedown', 'mousemove', 'mousemove', 'mouseup']);
        assert.deepEqual(sumMoves(out), { x: 40, y: 20 });
        assert.deepEqual(g.frame(700), []);
    });

    test('losing the fingers mid-drag releases the button', () => {
        const reset = make();
        reset.down({ id: 1, x: 0, y: 0, t: 0 });
        reset.tick(1000);
        assert.deepEqual(names(reset.reset()), ['mouseup']);
        assert.deepEqual(reset.reset(), []);

        const cancel = make();
        cancel.down({ id: 1, x: 0, y: 0, t: 0 });
        cancel.tick(1000);
        assert.deepEqual(names(cancel.cancel({ id: 1, x: 0, y: 0, t: 1100 })), ['mouseup']);
    });
});

describe('pointer movement', () => {
    test('moves between frames go out as one mousemove per frame', () => {
        const g = make();
        g.down({ id: 1, x: 0, y: 0, t: 0 });
        const between = [];
        for (let i = 1; i <= 5; i += 1) between.push(...g.move({ id: 1, x: i * 7, y: -i * 3, t: i * 3 }));
        assert.deepEqual(between, []);
        const out = g.frame(16);
        assert.deepEqual(out, [{ command: 'mousemove', params: { dx: 35, dy: -15 } }]);
        assert.deepEqual(g.frame(32), []);
    });

    test('fractions add up across frames instead of being lost', () => {
        const g = make({ sensitivity: 0.3 });
        g.down({ id: 1, x: 0, y: 0, t: 0 });
        g.move({ id: 1, x: 20, y: -20, t: 5 });
        const out = g.frame(10); // releases the first 20 px as 6 px
        for (let i = 1; i <= 40; i += 1) {
            // 1 px per frame is 0.3 px on the PC: never a whole pixel alone.
            out.push(...g.move({ id: 1, x: 20 + i, y: -20 - i, t: 10 + i * 16 }));
            out.push(...g.frame(12 + i * 16));
        }
        assert.ok(out.every((c) => Number.isInteger(c.params.dx) && Number.isInteger(c.params.dy)));
        assert.deepEqual(sumMoves(out), { x: 18, y: -18 }); // trunc(60 * 0.3), symmetric for negatives
    });

    test('a slow stroke that stays inside the tap radius still moves once it cannot be a tap', () => {
        const g = make();
        g.down({ id: 1, x: 0, y: 0, t: 0 });
        const out = [...g.move({ id: 1, x: 3, y: 4, t: 50 }), ...g.frame(60)];
        assert.deepEqual(out, []);
        assert.deepEqual(g.frame(DEFAULTS.tapMaxMs + 20), [{ command: 'mousemove', params: { dx: 3, dy: 4 } }]);
    });

    test('sensitivity and pixel ratio scale the gain, the ratio damped and clamped', () => {
        assert.equal(pixelRatioGain(2), 1);
        assert.equal(pixelRatioGain(0.5), pixelRatioGain(1));
        assert.equal(pixelRatioGain(10), pixelRatioGain(4));
        assert.ok(pixelRatioGain(3) > 1 && pixelRatioGain(3) < 1.5);
        assert.equal(pixelRatioGain(NaN), pixelRatioGain(1));

        const g = make({ sensitivity: 2.5 });
        g.down({ id: 1, x: 0, y: 0, t: 0 });
        g.move({ id: 1, x: 40, y: 0, t: 10 });
        assert.deepEqual(sumMoves(g.frame(20)), { x: 100, y: 0 });
    });

    test('fast strokes are accelerated, slow ones are not', () => {
        const stroke = (dx, dt) => {
            const g = make({ acceleration: 0.6 });
            g.down({ id: 1, x: 0, y: 0, t: 0 });
            g.move({ id: 1, x: 30, y: 0, t: 5 });
            g.frame(16);
            g.move({ id: 1, x: 30 + dx, y: 0, t: 16 + dt });
            return sumMoves(g.frame(16 + dt)).x;
        };
        assert.equal(stroke(2, 16), 2);
        assert.ok(stroke(48, 16) > 48);
    });
});
