// The PC's own volume and clipboard: the "volume…" and "clipboard…" messages.
// No DOM here; desk-view.js draws them.

import { keyTextChunks } from './protocol.js';

export const VOLUME_STATUS = 'volumestatus';
export const CLIPBOARD_SET = 'clipboardset';
export const CLIPBOARD_GET = 'clipboardget';
// The PC takes at most this many bytes of UTF-8; a browser message holds 64 KiB, so a
// longer text goes in parts of this many UTF-16 units (6 bytes each at worst in JSON).
export const CLIPBOARD_MAX_BYTES = 1024 * 1024;
export const CLIPBOARD_PART_UNITS = 4096;

export function volumeStatus() {
    return { command: VOLUME_STATUS, params: {} };
}

// The PC refuses values that are not whole numbers in 0..100, so they are made so here.
export function volumeSet(percent) {
    const v = Number(percent);
    if (!Number.isFinite(v)) throw new RangeError('volume needs a number');
    return { command: 'volumeset', params: { volume: Math.round(Math.min(100, Math.max(0, v))) } };
}

export function volumeMute(muted) {
    return { command: 'volumemute', params: { muted: Boolean(muted) } };
}

// A status message's params; untrusted input, so every field is checked.
export function parseVolumeStatus(params) {
    const p = params !== null && typeof params === 'object' ? params : {};
    const available = p.available === true && Number.isFinite(p.volume);
    return {
        server: p.server === true,
        available,
        volume: available ? Math.min(100, Math.max(0, Math.round(p.volume))) : 0,
        muted: available && p.muted === true,
    };
}

export function utf8Length(text) {
    return new TextEncoder().encode(text).length;
}

// The messages that put `text` on the PC's clipboard, or null when it is too long.
export function clipboardSetMessages(text) {
    const s = String(text);
    if (utf8Length(s) > CLIPBOARD_MAX_BYTES) return null;
    const parts = s.length === 0 ? [''] : keyTextChunks(s, CLIPBOARD_PART_UNITS).map((m) => m.params.text);
    return parts.map((part, i) => {
        const params = { text: part, part: i };
        if (i < parts.length - 1) params.more = true;
        return { command: CLIPBOARD_SET, params };
    });
}

export function clipboardGet() {
    return { command: CLIPBOARD_GET, params: {} };
}

// What the phone says for each refusal of the PC.
export const CLIPBOARD_ERRORS = Object.freeze({
    readOff: "Reading the PC's clipboard is switched off in Velmora's settings on the PC.",
    tooLarge: 'The text is larger than 1 MiB.',
    notText: "The PC's clipboard holds no text.",
    badEncoding: "The PC's clipboard holds text that is not valid UTF-8.",
    badText: 'The text holds characters that are not valid.',
    unavailable: "The PC's clipboard cannot be reached.",
});

// A clipboard answer's params: { ok, text, takenAt } or { ok: false, error }.
export function parseClipboardReply(params) {
    const p = params !== null && typeof params === 'object' ? params : {};
    if (p.ok === true) {
        return {
            ok: true,
            text: typeof p.text === 'string' ? p.text : '',
            takenAt: Number.isFinite(p.takenAt) ? p.takenAt : null,
            length: Number.isFinite(p.length) ? p.length : null,
        };
    }
    return { ok: false, error: Object.hasOwn(CLIPBOARD_ERRORS, p.error) ? p.error : 'unavailable' };
}
