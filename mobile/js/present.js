// The Present view's keys and clock. Page Down and Page Up are what presentation clickers send,
// so LibreOffice Impress, PowerPoint, PDF viewers (Evince, Okular, a browser's viewer) and
// browser slide decks (reveal.js, Google Slides) all take them; F5 starts the show in Impress,
// PowerPoint and Evince, Escape ends it, B blacks the screen in Impress, PowerPoint and
// reveal.js (again brings the slide back). No DOM here; app.js draws the view.

import { VK, keyCombo } from './protocol.js';

export const PRESENT_KEYS = Object.freeze({
    next: VK.NEXT,
    previous: VK.PRIOR,
    start: VK.F1 + 4, // F5
    end: VK.ESCAPE,
    black: 0x42, // B
});

export function presentCommand(what) {
    if (!Object.hasOwn(PRESENT_KEYS, what)) throw new RangeError(`no presenter key ${what}`);
    return keyCombo([PRESENT_KEYS[what]]);
}

// "12:05" or, from an hour on, "1:02:05".
export function formatElapsed(ms) {
    const total = Math.max(0, Math.floor(ms / 1000));
    const s = String(total % 60).padStart(2, '0');
    const m = Math.floor(total / 60) % 60;
    const h = Math.floor(total / 3600);
    return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
}

// The elapsed time of the talk: started by the start of the show or the first slide change,
// stopped by its end, and started from zero again by the next start.
export class TalkClock {
    constructor(now = () => Date.now()) {
        this.now = now;
        this.startedAt = null;
        this.stoppedAt = null;
    }

    press(what) {
        if (what === 'start' || (this.startedAt === null && (what === 'next' || what === 'previous'))) {
            this.startedAt = this.now();
            this.stoppedAt = null;
        } else if (what === 'end' && this.startedAt !== null && this.stoppedAt === null) {
            this.stoppedAt = this.now();
        }
    }

    get running() {
        return this.startedAt !== null && this.stoppedAt === null;
    }

    elapsed() {
        if (this.startedAt === null) return 0;
        return (this.stoppedAt ?? this.now()) - this.startedAt;
    }
}
