// Touch-pad gesture recogniser. It is fed pointer events with timestamps (in
// milliseconds, any monotonic clock) and returns the protocol commands they
// produce; it never touches the DOM or timers itself, so the caller drives:
//   down/move/up/cancel  for every pointer event,
//   takeMovement(now)    after the moves of one pointer event: the pointer
//                        movement they made, as one "mousemove", at once,
//   frame(now)           on an animation frame while `waiting`: movement that
//                        was held back or not taken, and the wheel,
//   tick(now)            when nextDeadline() is reached (hold, tap timeouts).
//
// One finger moves the pointer; a tap clicks; two taps in quick succession
// double-click; a two-finger tap right-clicks (three fingers: middle); two
// fingers dragged turn the wheel; press and hold starts a drag that the
// finger's lift ends.

import { MAX_WHEEL_FINE, WHEEL_FINE_PER_NOTCH, mouseClick, mouseDown, mouseMove, mouseUp, mouseWheelFine } from './protocol.js';

export const DEFAULTS = Object.freeze({
    tapMaxMs: 220, // a touch longer than this is not a tap
    tapSlop: 10, // CSS px a finger may wander and still tap or hold
    doubleTapMs: 300, // from the first tap's lift to the second touch
    doubleTapSlop: 48, // CSS px between the two taps of a double tap
    holdMs: 480, // still finger this long starts a drag
    multiTapMs: 300, // two/three-finger taps are a little slower
    multiSlop: 16,
    scrollStep: 22, // CSS px of two-finger travel per wheel notch
    sensitivity: 1.6,
    pixelRatio: 2,
    naturalScroll: true, // content follows the fingers, as on the phone
    acceleration: 0.6, // extra gain per CSS px/ms of finger speed
    wallClock: () => Date.now(), // for the click "timestamp"
});

// CSS pixels are already close to the same physical size on every phone, so
// the pixel ratio only nudges the gain: a denser screen reports finer steps
// and gets a little more reach per stroke, damped and clamped so a ratio of 4
// does not make the pointer four times as fast.
export function pixelRatioGain(ratio) {
    const r = Number.isFinite(ratio) && ratio > 0 ? ratio : 1;
    return Math.sqrt(Math.min(Math.max(r, 1), 4) / 2);
}

// Truncates towards zero, forgiving the rounding error of summed fractions:
// 0.3 added sixty times is 17.999…, which must still count as 18.
function wholePixels(v) {
    return Math.trunc(v + (v >= 0 ? 1e-9 : -1e-9));
}

const IDLE = 'idle';
const ONE = 'one'; // one finger: a tap, a hold or a pointer move
const DRAG = 'drag'; // press and hold fired: the left button is down
const MULTI = 'multi'; // two or more fingers: a tap or a scroll
const DONE = 'done'; // gesture decided; waiting for every finger to lift

export class GestureRecognizer {
    constructor(options = {}) {
        this.options = { ...DEFAULTS };
        this.configure(options);
        this.pointers = new Map();
        this.ignored = new Set();
        this.mode = IDLE;
        this.pendingClick = null; // a tap waiting to see whether a second follows
        this.moveAcc = { x: 0, y: 0 }; // CSS px not yet sent
        this.remainder = { x: 0, y: 0 }; // sub-pixel rest of what was sent
        this.wheelAcc = 0;
        this.moveFrom = null; // time of the event before the first movement not yet sent
        this.moveTo = null; // time of the last movement not yet sent
        this.resetGesture(0);
    }

    configure(options) {
        for (const [key, value] of Object.entries(options)) {
            if (key in DEFAULTS && value !== undefined) this.options[key] = value;
        }
    }

    get gain() {
        return this.options.sensitivity * pixelRatioGain(this.options.pixelRatio);
    }

    get isDragging() {
        return this.mode === DRAG;
    }

    // Whether frame() has something to send: movement held back or not taken, or a wheel
    // being turned.
    get waiting() {
        return this.moveAcc.x !== 0 || this.moveAcc.y !== 0 || (this.mode === MULTI && this.scrolling);
    }

    resetGesture(t) {
        this.startT = t;
        this.still = true; // no finger has left its slop circle
        this.maxPointers = 0;
        this.multiTap = false;
        this.scrolling = false;
        this.lifting = false;
        this.startPos = null;
    }

    // Pointer down. ev: {id, x, y, t}
    down(ev) {
        const out = this.update(ev.t);
        if (this.pointers.has(ev.id) || this.ignored.has(ev.id)) return out;
        const p = { x0: ev.x, y0: ev.y, x: ev.x, y: ev.y, t: ev.t, travel: 0 };

        if (this.mode === IDLE) {
            this.pointers.set(ev.id, p);
            this.mode = ONE;
            this.resetGesture(ev.t);
            this.maxPointers = 1;
            this.startPos = { x: ev.x, y: ev.y };
            this.moveAcc = { x: 0, y: 0 };
            this.remainder = { x: 0, y: 0 };
            this.wheelAcc = 0;
            return out;
        }
        if (this.mode === ONE) {
            // A second finger turns the touch into a two-finger gesture; any
            // earlier tap stays a single click, sent before what follows.
            out.push(...this.flushPendingClick());
            this.pointers.set(ev.id, p);
            this.mode = MULTI;
            this.multiTap = this.still && ev.t - this.startT <= this.options.multiTapMs;
            this.maxPointers = 2;
            this.moveAcc = { x: 0, y: 0 };
            this.wheelAcc = 0;
            return out;
        }
        if (this.mode === MULTI && !this.lifting) {
            this.pointers.set(ev.id, p);
            this.maxPointers = Math.max(this.maxPointers, this.pointers.size);
            if (ev.t - this.startT > this.options.multiTapMs) this.multiTap = false;
            return out;
        }
        // Extra fingers during a drag or after a decided gesture are ignored.
        this.ignored.add(ev.id);
        return out;
    }

    move(ev) {
        const out = this.update(ev.t);
        const p = this.pointers.get(ev.id);
        if (!p) return out;
        const dx = ev.x - p.x;
        const dy = ev.y - p.y;
        const from = p.t;
        p.x = ev.x;
        p.y = ev.y;
        p.t = ev.t;
        p.travel = Math.max(p.travel, Math.hypot(ev.x - p.x0, ev.y - p.y0));

        if (this.mode === ONE || this.mode === DRAG) {
            if (this.moveAcc.x === 0 && this.moveAcc.y === 0) this.moveFrom = from;
            this.moveTo = ev.t;
            this.moveAcc.x += dx;
            this.moveAcc.y += dy;
            if (this.mode === ONE && this.still && p.travel > this.options.tapSlop) {
                this.still = false;
                out.push(...this.flushPendingClick());
            }
        } else if (this.mode === MULTI) {
            if (p.travel > this.options.multiSlop) {
                this.multiTap = false;
                this.still = false;
                if (!this.lifting) this.scrolling = true;
            }
            // The wheel follows the mean vertical travel of the fingers; once
            // one of them lifts the mean would jump, so scrolling stops there.
            if (!this.lifting) this.wheelAcc += dy / this.pointers.size;
        }
        return out;
    }

    up(ev) {
        return this.release(ev, false);
    }

    // A cancelled pointer (the browser took it over) never counts as a tap.
    cancel(ev) {
        return this.release(ev, true);
    }

    release(ev, cancelled) {
        const out = this.update(ev.t);
        if (this.ignored.delete(ev.id)) {
            if (this.pointers.size === 0 && this.ignored.size === 0) this.mode = IDLE;
            return out;
        }
        const p = this.pointers.get(ev.id);
        if (!p) return out;
        if (!cancelled && (ev.x !== p.x || ev.y !== p.y)) {
            out.push(...this.move(ev));
        }
        this.pointers.delete(ev.id);
        if (cancelled) {
            this.still = false;
            this.multiTap = false;
        }

        if (this.mode === ONE) {
            const tap = this.still && ev.t - this.startT <= this.options.tapMaxMs;
            if (tap) {
                this.moveAcc = { x: 0, y: 0 }; // a tap's jitter never moves the pointer
                out.push(...this.completeTap(ev.t));
            } else {
                out.push(...this.flushPendingClick());
            }
            this.finishWhenEmpty();
        } else if (this.mode === DRAG) {
            if (this.pointers.size === 0) {
                out.push(...this.flushMovement(ev.t));
                out.push(mouseUp('left'));
                this.finishWhenEmpty();
            }
        } else if (this.mode === MULTI) {
            if (this.pointers.size === 0) {
                if (this.multiTap && ev.t - this.startT <= this.options.multiTapMs) {
                    out.push(this.click(this.maxPointers >= 3 ? 'middle' : 'right'));
                } else if (this.scrolling) {
                    out.push(...this.flushWheel(true));
                }
                this.wheelAcc = 0;
                this.finishWhenEmpty();
            } else {
                this.lifting = true;
            }
        } else {
            this.finishWhenEmpty();
        }
        return out;
    }

    finishWhenEmpty() {
        if (this.pointers.size === 0) this.mode = this.ignored.size === 0 ? IDLE : DONE;
    }

    completeTap(t) {
        const pending = this.pendingClick;
        if (
            pending &&
            this.startT - pending.t <= this.options.doubleTapMs &&
            Math.hypot(this.startPos.x - pending.x, this.startPos.y - pending.y) <= this.options.doubleTapSlop
        ) {
            this.pendingClick = null;
            return [this.click('left', true)];
        }
        const out = this.flushPendingClick();
        this.pendingClick = { t, x: this.startPos.x, y: this.startPos.y };
        return out;
    }

    click(button, double = false) {
        return mouseClick(button, { double, timestamp: this.options.wallClock() });
    }

    flushPendingClick() {
        if (!this.pendingClick) return [];
        this.pendingClick = null;
        return [this.click('left')];
    }

    // Movement is held back while the touch may still turn out to be a tap,
    // so that tapping never nudges the pointer away from its target.
    movementHeld(now) {
        return this.mode === ONE && this.still && now - this.startT <= this.options.tapMaxMs;
    }

    // Time-driven transitions; every entry point runs this first so results do
    // not depend on how punctually the caller's timers fire.
    update(now) {
        const out = [];
        const o = this.options;
        if (this.pendingClick) {
            const waitingForSecond = this.mode === IDLE && now - this.pendingClick.t > o.doubleTapMs;
            const secondIsNoTap = this.mode === ONE && !this.movementHeld(now);
            if (waitingForSecond || secondIsNoTap) out.push(...this.flushPendingClick());
        }
        if (this.mode === ONE && this.still && now - this.startT >= o.holdMs) {
            out.push(...this.flushPendingClick());
            out.push(...this.flushMovement(now));
            this.mode = DRAG;
            out.push(mouseDown('left'));
        }
        return out;
    }

    tick(now) {
        return this.update(now);
    }

    // When the caller should call tick() next, or Infinity when nothing waits.
    nextDeadline() {
        const o = this.options;
        let next = Infinity;
        if (this.pendingClick && this.mode === IDLE) next = Math.min(next, this.pendingClick.t + o.doubleTapMs + 1);
        if (this.mode === ONE && this.still) {
            next = Math.min(next, this.startT + o.holdMs);
            if (this.pendingClick) next = Math.min(next, this.startT + o.tapMaxMs + 1);
        }
        return next;
    }

    frame(now) {
        const out = this.update(now);
        out.push(...this.flushMovement(now));
        if (this.scrolling) out.push(...this.flushWheel());
        return out;
    }

    // The movement of the events fed since the last call, unless it is held back because the
    // touch may still be a tap (frame() sends it once that is decided).
    takeMovement(now) {
        const out = this.update(now);
        out.push(...this.flushMovement(now));
        return out;
    }

    flushMovement(now) {
        if (this.movementHeld(now)) return [];
        const { x, y } = this.moveAcc;
        if (x === 0 && y === 0) return [];
        this.moveAcc = { x: 0, y: 0 };
        // The speed over the time the finger took for this distance, by the events' own clocks.
        const span = this.moveFrom === null || this.moveTo === null ? 16 : this.moveTo - this.moveFrom;
        const dt = Math.min(Math.max(span, 8), 100);
        const speed = Math.hypot(x, y) / dt; // CSS px per ms
        const accel = 1 + this.options.acceleration * Math.min(Math.max(speed - 0.25, 0), 3);
        const gain = this.gain * accel;
        // Send whole pixels only and keep the rest, so slow strokes add up
        // instead of being rounded away frame after frame.
        const fx = x * gain + this.remainder.x;
        const fy = y * gain + this.remainder.y;
        const ix = wholePixels(fx);
        const iy = wholePixels(fy);
        this.remainder = { x: fx - ix, y: fy - iy };
        if (ix === 0 && iy === 0) return [];
        return [mouseMove(ix, iy)];
    }

    // The wheel goes out in 120ths of a notch; less than that stays here for the next frame.
    // `end` tells the PC that the fingers lifted, so it goes out even with nothing to scroll.
    flushWheel(end = false) {
        const step = this.options.scrollStep;
        const units = wholePixels((this.wheelAcc / step) * WHEEL_FINE_PER_NOTCH);
        const sent = Math.min(Math.max(units, -MAX_WHEEL_FINE), MAX_WHEEL_FINE);
        if (sent === 0 && !end) return [];
        this.wheelAcc -= (sent * step) / WHEEL_FINE_PER_NOTCH;
        // Fingers moving down show what lies above: that is wheel up (positive).
        return [mouseWheelFine(this.options.naturalScroll ? sent : -sent, end)];
    }

    // Forget every finger (page hidden, connection lost). Returns the release
    // of a drag in progress so that no button stays held on the PC.
    reset() {
        const out = [];
        if (this.mode === DRAG) out.push(mouseUp('left'));
        this.pointers.clear();
        this.ignored.clear();
        this.mode = IDLE;
        this.pendingClick = null;
        this.moveAcc = { x: 0, y: 0 };
        this.wheelAcc = 0;
        return out;
    }
}
