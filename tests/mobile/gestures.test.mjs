import assert from 'node:assert/strict';
import { test } from 'node:test';

import { DEFAULTS, GestureRecognizer } from '../../mobile/js/gestures.js';

// Plays steps ['down'|'move'|'up'|'cancel', id, x, y, t] or ['frame'|'tick', t] on a recogniser
// with gain 1 and no acceleration, so expected pointer moves are plain arithmetic.
function play(steps, options = {}) {
    const g = new GestureRecognizer({ sensitivity: 1, pixelRatio: 2, acceleration: 0, ...options });
    const out = [];
    for (const [kind, id, x, y, t] of steps) out.push(...(y === undefined ? g[kind](id) : g[kind]({ id, x, y, t })));
    return { g, out };
}
const show = ({ command, params: p }) =>
    ({ mouseclick: p.double ? 'double' : p.button, mousemove: `move ${p.dx},${p.dy}`, mousewheel: `wheel ${p.fine}${p.end ? ' end' : ''}` })[command]
    ?? command;
const tap = (t, x = 100, y = 100, id = 1) => [['down', id, x, y, t], ['up', id, x, y, t + 60]];
const fingers = (n, t0, tUp) => [
    ...Array.from({ length: n }, (_, i) => ['down', i + 1, 100 + 50 * i, 100, t0 + 20 * i]),
    ...Array.from({ length: n }, (_, i) => ['up', i + 1, 100 + 50 * i, 100, tUp + 10 * i]),
];
const window = 60 + DEFAULTS.doubleTapMs; // the first tap lifts at 60

test('touches are classified into clicks, drags and moves', () => {
    const cases = [
        ['a tap waits out the double-tap window', [...tap(0), ['frame', 100], ['tick', window]], []],
        ['then clicks once', [...tap(0), ['tick', window + 1], ['tick', 9000]], ['left']],
        ['two quick taps are one double click', [...tap(0), ...tap(200, 104, 98, 2), ['tick', 9000]], ['double']],
        ['a second tap too late', [...tap(0), ...tap(window + 50), ['tick', 9000]], ['left', 'left']],
        ['a second tap too far away', [...tap(0, 20, 20), ...tap(150, 300, 300, 2), ['tick', 9000]], ['left', 'left']],
        ['a held second touch', [...tap(0), ['down', 2, 100, 100, 150], ['tick', 150 + DEFAULTS.tapMaxMs + 1]], ['left']],
        ['a tap with jitter', [['down', 1, 100, 100, 0], ['move', 1, 104, 103, 20], ['frame', 30], ['up', 1, 105, 103, 70],
            ['frame', 80], ['tick', 9000]], ['left']],
        ['a tap then a stroke', [...tap(0), ['down', 2, 100, 100, 150], ['move', 2, 140, 100, 170], ['frame', 180]], ['left', 'move 40,0']],
        ['a cancelled touch', [['down', 1, 10, 10, 0], ['cancel', 1, 10, 10, 50], ['tick', 9000]], []],
        ['two fingers tapping', [...fingers(2, 0, 120), ['tick', 9000]], ['right']],
        ['three fingers tapping', [...fingers(3, 0, 120), ['tick', 9000]], ['middle']],
        // Moves between two frames go out as one; movement after the last frame lands before the release.
        ['press and hold drags', [['down', 1, 50, 50, 0], ['tick', DEFAULTS.holdMs], ['move', 1, 60, 55, 590], ['move', 1, 80, 60, 600],
            ['frame', 610], ['move', 1, 90, 70, 620], ['up', 1, 90, 70, 630], ['frame', 700]],
        ['mousedown', 'move 30,10', 'move 10,10', 'mouseup']],
        ['a stroke is one move per frame', [['down', 1, 0, 0, 0], ...[1, 2, 3, 4, 5].map((i) => ['move', 1, 7 * i, -3 * i, 3 * i]),
            ['frame', 16], ['frame', 32]], ['move 35,-15']],
    ];
    for (const [name, steps, expected] of cases) assert.deepEqual(play(steps).out.map(show), expected, name);
});

test('two fingers dragged turn the wheel in 120ths of a notch, in the chosen direction, slow or fast', () => {
    // Two fingers travel dy in `moves` equal steps, one frame after each, then lift.
    const scroll = (dy, moves) => [['down', 1, 100, 200, 0], ['down', 2, 160, 200, 10],
        ...Array.from({ length: moves }, (_, i) => [1, 2].map((id) => ['move', id, 40 + 60 * id, 200 + (dy * (i + 1)) / moves, 26 + 16 * i])
            .concat([['frame', 28 + 16 * i]])).flat(),
        ['up', 1, 100, 200 + dy, 30 + 16 * moves], ['up', 2, 160, 200 + dy, 40 + 16 * moves]];
    for (const [dy, naturalScroll, total] of [[130, true, 780], [-100, true, -600], [100, false, -600], [37, true, 222]]) {
        for (const moves of [1, 30]) {
            const { out } = play(scroll(dy, moves), { scrollStep: 20, naturalScroll });
            const shown = out.map(show).join();
            assert.ok(out.every((c) => c.command === 'mousewheel' && Number.isInteger(c.params.fine)), shown);
            assert.equal(out.reduce((s, c) => s + c.params.fine, 0), total, `dy ${dy} in ${moves}: ${shown}`);
            assert.ok(out.at(-1).params.end && out.slice(0, -1).every((c) => !c.params.end), shown);
        }
    }
});

test('fractions of a pixel add up across frames instead of being lost', () => {
    const steps = [['down', 1, 0, 0, 0], ['move', 1, 20, -20, 5], ['frame', 10]];
    // 1 px per frame is 0.3 px on the PC: never a whole pixel alone.
    for (let i = 1; i <= 40; i += 1) steps.push(['move', 1, 20 + i, -20 - i, 10 + 16 * i], ['frame', 12 + 16 * i]);
    const { out } = play(steps, { sensitivity: 0.3 });
    const sum = out.reduce((s, c) => [s[0] + c.params.dx, s[1] + c.params.dy], [0, 0]);
    assert.ok(out.every((c) => Number.isInteger(c.params.dx) && Number.isInteger(c.params.dy)));
    assert.deepEqual(sum, [18, -18]); // trunc(60 * 0.3), symmetric for negatives
});

test('losing the fingers mid-drag releases the button once', () => {
    const held = () => play([['down', 1, 0, 0, 0], ['tick', 1000]]).g;
    const g = held();
    assert.deepEqual(g.reset().map(show), ['mouseup']);
    assert.deepEqual(g.reset(), []);
    assert.deepEqual(held().cancel({ id: 1, x: 0, y: 0, t: 1100 }).map(show), ['mouseup']);
});

test('a finger\'s movement goes out from its own event; frames carry only what must wait', () => {
    const cases = [
        // Past the slop the stroke is no tap: each event's movement goes out at once, none on frames.
        ['a stroke', [['down', 1, 0, 0, 0], ['move', 1, 30, 0, 16], ['takeMovement', 16], ['move', 1, 40, 5, 32],
            ['takeMovement', 32], ['frame', 40]], ['move 30,0', 'move 10,5']],
        ['a tap never moves the pointer', [['down', 1, 100, 100, 0], ['move', 1, 104, 103, 20], ['takeMovement', 20],
            ['up', 1, 105, 103, 70], ['frame', 80], ['tick', 9000]], ['left']],
        // Within the slop and the tap time the movement waits; the first frame after it goes.
        ['a slow start', [['down', 1, 0, 0, 0], ['move', 1, 5, 0, 50], ['takeMovement', 50], ['frame', 60],
            ['frame', DEFAULTS.tapMaxMs + 10]], ['move 5,0']],
        ['a drag', [['down', 1, 50, 50, 0], ['tick', DEFAULTS.holdMs], ['move', 1, 60, 55, 590], ['takeMovement', 590],
            ['move', 1, 62, 55, 600], ['up', 1, 62, 55, 610]], ['mousedown', 'move 10,5', 'move 2,0', 'mouseup']],
        // A congested socket: the caller takes nothing, and the next frame sends it as one step.
        ['behind a congested socket', [['down', 1, 0, 0, 0], ['move', 1, 30, 0, 16], ['move', 1, 50, 10, 32],
            ['frame', 40]], ['move 50,10']],
    ];
    for (const [name, steps, expected] of cases) assert.deepEqual(play(steps).out.map(show), expected, name);

    const g = new GestureRecognizer({ acceleration: 0 });
    assert.equal(g.waiting, false);
    g.down({ id: 1, x: 0, y: 0, t: 0 });
    g.move({ id: 1, x: 3, y: 0, t: 10 });
    assert.equal(g.waiting, true, 'held while it may be a tap');
    g.move({ id: 1, x: 40, y: 0, t: 20 });
    g.takeMovement(20);
    assert.equal(g.waiting, false, 'nothing left for a frame');
    g.down({ id: 2, x: 100, y: 0, t: 30 });
    g.move({ id: 2, x: 100, y: 60, t: 40 });
    assert.equal(g.waiting, true, 'a wheel being turned');
});

test('acceleration follows the finger\'s speed by its events\' times, however late they are handled', () => {
    // Strokes of `per` CSS px every `every` ms, `merged` events delivered together, each
    // delivery taken `late` ms after its last event.
    const stroke = (per, every, merged, late) => {
        const steps = [['down', 1, 0, 0, 300]];
        for (let i = 1; i <= 24; i += 1) {
            steps.push(['move', 1, per * i, 0, 300 + every * i]);
            if (i % merged === 0) steps.push(['takeMovement', 300 + every * i + late]);
        }
        const { out } = play(steps, { acceleration: 0.6 });
        return out.reduce((sum, c) => sum + c.params.dx, 0);
    };
    const fast = stroke(16, 8, 2, 0);
    assert.equal(stroke(16, 8, 1, 0), fast, 'one event per delivery');
    assert.equal(stroke(16, 8, 2, 30), fast, 'delivered late');
    assert.ok(fast > 24 * 16 * 1.5, `fast strokes go further: ${fast}`);
    assert.equal(stroke(1, 16, 1, 0), 24, 'slow strokes are not accelerated');
});
