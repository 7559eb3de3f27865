// The Pad tab: fingers on the pad through the gesture recogniser, and the laptop-style buttons
// under it.

import { GestureRecognizer } from './gestures.js';
import { mouseDown, mouseUp } from './protocol.js';
import { $, el } from './page.js';

// `options()`: the recogniser's options from the current settings; `sendAll` sends commands
// as one burst; `connection` tells whether the socket is backed up.
export function createPad({ connection, sendAll, options }) {
    const pad = $('pad');
    const recognizer = new GestureRecognizer(options());
    const touchDots = new Map();

    // Only what must wait goes out on an animation frame: movement held back while
    // a touch may still be a tap, movement piled up behind a congested socket, and
    // the wheel. A finger's movement goes out from its pointer event.
    let frameRequested = false;
    function ensureFrame() {
        if (frameRequested || !recognizer.waiting) return;
        frameRequested = true;
        requestAnimationFrame(() => {
            frameRequested = false;
            // While the socket is backed up, movement keeps adding up in the
            // recogniser and goes out as one larger step once there is room.
            if (!connection.congested) sendAll(recognizer.frame(performance.now()));
            updatePadLook();
            ensureFrame();
        });
    }

    let tickTimer = null;
    function scheduleTick() {
        clearTimeout(tickTimer);
        tickTimer = null;
        const deadline = recognizer.nextDeadline();
        if (!Number.isFinite(deadline)) return;
        tickTimer = setTimeout(() => {
            tickTimer = null;
            sendAll(recognizer.tick(performance.now()));
            updatePadLook();
            scheduleTick();
            ensureFrame();
        }, Math.max(0, deadline - performance.now()));
    }

    // The event's own time: it is on performance.now()'s clock, and a coalesced
    // move keeps the time it was made rather than the time it was delivered.
    function pointerOf(event) {
        return { id: event.pointerId, x: event.clientX, y: event.clientY, t: event.timeStamp };
    }

    // The browser delivers at most one pointermove a frame; the moves it merged
    // into it are kept with it.
    function movesOf(event) {
        const merged = typeof event.getCoalescedEvents === 'function' ? event.getCoalescedEvents() : [];
        return merged.length > 0 ? merged : [event];
    }

    function afterPadEvent(commands) {
        sendAll(commands);
        scheduleTick();
        ensureFrame();
        updatePadLook();
    }

    function placeDot(event) {
        let dot = touchDots.get(event.pointerId);
        if (!dot) {
            dot = el('div', 'touch-dot');
            pad.appendChild(dot);
            touchDots.set(event.pointerId, dot);
        }
        const box = pad.getBoundingClientRect();
        dot.style.transform = `translate(${event.clientX - box.left}px, ${event.clientY - box.top}px)`;
    }

    function removeDot(id) {
        touchDots.get(id)?.remove();
        touchDots.delete(id);
    }

    function updatePadLook() {
        pad.classList.toggle('touching', touchDots.size > 0);
        pad.classList.toggle('dragging', recognizer.isDragging);
        $('pad-badge').hidden = !recognizer.isDragging;
    }

    pad.addEventListener('pointerdown', (event) => {
        event.preventDefault();
        try {
            pad.setPointerCapture(event.pointerId);
        } catch {
            // capture is a nicety; touch pointers are captured implicitly
        }
        pad.classList.add('used');
        placeDot(event);
        afterPadEvent(recognizer.down(pointerOf(event)));
    });
    pad.addEventListener('pointermove', (event) => {
        if (!touchDots.has(event.pointerId)) return;
        placeDot(event);
        const out = [];
        for (const move of movesOf(event)) out.push(...recognizer.move(pointerOf(move)));
        if (!connection.congested) out.push(...recognizer.takeMovement(event.timeStamp));
        afterPadEvent(out);
    });
    pad.addEventListener('pointerup', (event) => {
        removeDot(event.pointerId);
        afterPadEvent(recognizer.up(pointerOf(event)));
    });
    pad.addEventListener('pointercancel', (event) => {
        removeDot(event.pointerId);
        afterPadEvent(recognizer.cancel(pointerOf(event)));
    });
    for (const target of [pad, ...document.querySelectorAll('.mouse-btn')]) {
        target.addEventListener('contextmenu', (event) => event.preventDefault());
    }
    document.addEventListener('gesturestart', (event) => event.preventDefault());

    // Laptop-style buttons under the pad: press and release follow the thumb, so
    // holding one while moving on the pad drags.
    const heldButtons = new Set();
    for (const btn of document.querySelectorAll('.mouse-btn')) {
        const button = btn.dataset.button;
        const release = () => {
            if (!heldButtons.delete(button)) return;
            btn.classList.remove('pressed');
            sendAll([mouseUp(button)]);
        };
        btn.addEventListener('pointerdown', (event) => {
            event.preventDefault();
            if (heldButtons.has(button)) return;
            heldButtons.add(button);
            btn.classList.add('pressed');
            sendAll([mouseDown(button)]);
        });
        btn.addEventListener('pointerup', release);
        btn.addEventListener('pointercancel', release);
        btn.addEventListener('pointerleave', release);
    }

    // Lifts every finger and button (page hidden, link lost).
    function releaseEverything() {
        sendAll(recognizer.reset());
        for (const id of [...touchDots.keys()]) removeDot(id);
        for (const btn of document.querySelectorAll('.mouse-btn.pressed')) {
            const button = btn.dataset.button;
            btn.classList.remove('pressed');
            if (heldButtons.delete(button)) sendAll([mouseUp(button)]);
        }
        clearTimeout(tickTimer);
        tickTimer = null;
        updatePadLook();
    }

    return {
        releaseEverything,
        // The settings changed (or the screen's pixel ratio): the recogniser follows.
        configure: (changes) => recognizer.configure(changes ?? options()),
    };
}
