// The "now playing" state of the PC's media player: the "mediastatus" and
// "mediacontrol" messages, and what the bar shows between two status
// messages. No DOM here; nowplaying-view.js draws it.

export const MEDIA_STATUS = 'mediastatus';
export const MEDIA_CONTROL = 'mediacontrol';

export const ACTIONS = Object.freeze(['play', 'pause', 'playpause', 'next', 'previous', 'seek', 'position', 'volume']);

export function mediaStatus() {
    return { command: MEDIA_STATUS, params: {} };
}

// The server refuses values out of range instead of clamping them, so they
// are clamped here: "position" is not negative, "volume" lies in 0..1.
export function mediaControl(action, value) {
    if (!ACTIONS.includes(action)) throw new RangeError(`unknown media action: ${action}`);
    if (action !== 'seek' && action !== 'position' && action !== 'volume') return { command: MEDIA_CONTROL, params: { action } };
    let v = Number(value);
    if (!Number.isFinite(v)) throw new RangeError(`${action} needs a number`);
    if (action === 'position') v = Math.max(0, v);
    if (action === 'volume') v = Math.min(1, Math.max(0, v));
    return { command: MEDIA_CONTROL, params: { action, value: v } };
}

const text = (v) => (typeof v === 'string' ? v : '');
const number = (v) => (typeof v === 'number' && Number.isFinite(v) ? v : null);

// A status message's params as the bar uses them; untrusted input, so every
// field is checked. Art is taken only as an inline picture or a web address.
export function parseMediaStatus(params) {
    if (params === null || typeof params !== 'object' || params.running !== true) return { running: false };
    const art = text(params.art).startsWith('data:image/') ? params.art : (/^https?:\/\//i.test(text(params.artUrl)) ? params.artUrl : '');
    const length = number(params.length);
    const volume = number(params.volume);
    return {
        running: true,
        player: text(params.player),
        title: text(params.title),
        artist: text(params.artist),
        album: text(params.album),
        status: ['Playing', 'Paused', 'Stopped'].includes(params.status) ? params.status : 'Stopped',
        position: Math.max(0, number(params.position) ?? 0),
        length: length !== null && length > 0 ? length : null,
        volume: volume !== null && volume >= 0 ? Math.min(1, volume) : null,
        art,
    };
}

// "m:ss", or "h:mm:ss" from an hour on; "–:––" when unknown.
export function formatTime(seconds) {
    if (typeof seconds !== 'number' || !Number.isFinite(seconds) || seconds < 0) return '–:––';
    const s = Math.floor(seconds);
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    const ss = String(s % 60).padStart(2, '0');
    return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${ss}` : `${m}:${ss}`;
}

// How long a file opened from the phone may take to start playing.
export const PENDING_MS = 15000;

// The player as last heard of, with the position carried forward while it
// plays. `pending` is a file just opened from the phone whose player has not
// reported yet; it keeps the bar up meanwhile.
export class NowPlaying {
    constructor() {
        this.status = { running: false };
        this.receivedAt = 0;
        this.pending = null;
    }

    get visible() {
        return this.status.running || this.pending !== null;
    }

    get playing() {
        return this.status.running && this.status.status === 'Playing';
    }

    expect(fileName, now) {
        this.pending = { title: String(fileName), since: now };
    }

    update(params, now) {
        this.status = parseMediaStatus(params);
        this.receivedAt = now;
        // Until the new file plays, the player may still report the old one.
        if (this.pending && (this.playing || now - this.pending.since >= PENDING_MS)) this.pending = null;
    }

    reset() {
        this.status = { running: false };
        this.pending = null;
    }

    get title() {
        if (this.pending && !this.playing) return this.pending.title;
        return this.status.title || this.pending?.title || '';
    }

    positionAt(now) {
        if (!this.status.running) return 0;
        let p = this.status.position;
        if (this.playing) p += Math.max(0, now - this.receivedAt) / 1000;
        return this.status.length !== null ? Math.min(p, this.status.length) : p;
    }
}
