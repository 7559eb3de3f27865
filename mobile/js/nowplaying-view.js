// The "now playing" bar of the Media tab: what the PC's player plays, with
// play/pause, previous/next, a progress bar to drag and a volume slider.
// Builds its own elements; app.js only places it and feeds it messages.

import { NowPlaying, formatTime, mediaControl, mediaStatus } from './nowplaying.js';
import { node } from './dom.js';

// Every visible text of the bar, in one place for the translations.
export const NOW_PLAYING_TEXT = Object.freeze({
    label: 'Now playing',
    previous: 'Previous',
    next: 'Next',
    play: 'Play',
    pause: 'Pause',
    position: 'Position',
    volume: 'Volume',
    opening: 'Opening…',
    paused: 'Paused',
    stopped: 'Stopped',
});

const ICONS = {
    previous: 'M6 5v14M19 5L9 12l10 7z',
    next: 'M18 5v14M5 5l10 7-10 7z',
    play: 'M7 5l12 7-12 7z',
    pause: 'M7 5h3v14H7zM14 5h3v14h-3z',
    quiet: 'M4 9.5h3.5L12 5v14l-4.5-4.5H4z',
    loud: 'M4 9.5h3.5L12 5v14l-4.5-4.5H4zM16 9a4 4 0 0 1 0 6M18.5 6.5a7.5 7.5 0 0 1 0 11',
};

const SEEK_STEPS = 1000;
const VOLUME_SEND_MS = 150;
const TICK_MS = 500;


function glyph(name) {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('viewBox', '0 0 24 24');
    const path = document.createElementNS('http://www.w3.org/2000/svg', 'path');
    path.setAttribute('d', ICONS[name]);
    svg.appendChild(path);
    return svg;
}

// `send(command)` sends one command object and tells whether it went out.
export function createNowPlayingBar({ parent, before = null, send, now = () => Date.now(), text = NOW_PLAYING_TEXT }) {
    const state = new NowPlaying();
    const bar = node('section', 'nowplaying', { id: 'now-playing', 'aria-label': text.label });
    bar.hidden = true;

    const art = node('img', 'np-art', { id: 'np-art', alt: '' });
    const title = node('strong', 'np-title', { id: 'np-title' });
    const artist = node('span', 'np-artist subtle', { id: 'np-artist' });
    const head = node('div', 'np-head');
    const words = node('div', 'np-words');
    words.append(title, artist);
    head.append(art, words);

    const elapsed = node('span', 'np-time', { id: 'np-elapsed' });
    const total = node('span', 'np-time', { id: 'np-length' });
    const seek = node('input', 'np-seek', { id: 'np-seek', type: 'range', min: '0', max: String(SEEK_STEPS), step: '1', 'aria-label': text.position });
    const progress = node('div', 'np-progress');
    progress.append(elapsed, seek, total);

    const button = (id, icon, label, action) => {
        const b = node('button', `key np-btn${id === 'np-toggle' ? ' main' : ''}`, { id, type: 'button', 'aria-label': label });
        b.appendChild(glyph(icon));
        b.addEventListener('click', () => send(mediaControl(action)));
        return b;
    };
    const previous = button('np-previous', 'previous', text.previous, 'previous');
    const toggle = button('np-toggle', 'play', text.play, 'playpause');
    const next = button('np-next', 'next', text.next, 'next');
    const volume = node('input', 'np-volume', { id: 'np-volume', type: 'range', min: '0', max: '100', step: '1', 'aria-label': text.volume });
    const volumeRow = node('div', 'np-volume-row');
    volumeRow.append(glyph('quiet'), volume, glyph('loud'));
    const controls = node('div', 'np-controls');
    controls.append(previous, toggle, next);

    bar.append(head, progress, controls, volumeRow);
    parent.insertBefore(bar, before);

    let seeking = false;
    let volumeHeld = false;
    let volumeSentAt = -Infinity;
    let volumeTimer = null;
    let ticker = null;

    function drawPosition() {
        const length = state.status.running ? state.status.length : null;
        seek.disabled = length === null;
        total.textContent = formatTime(length ?? NaN);
        if (seeking) {
            elapsed.textContent = formatTime((Number(seek.value) / SEEK_STEPS) * (length ?? 0));
            return;
        }
        const position = state.positionAt(now());
        elapsed.textContent = state.status.running ? formatTime(position) : formatTime(NaN);
        seek.value = String(length ? Math.round((position / length) * SEEK_STEPS) : 0);
    }

    function draw() {
        bar.hidden = !state.visible;
        const s = state.status;
        bar.dataset.status = s.running ? s.status : 'Opening';
        title.textContent = state.title || text.opening;
        const byline = s.running ? [s.artist, s.album].filter(Boolean).join(' · ') : '';
        artist.textContent = byline || (s.running && s.status !== 'Playing' ? text[s.status.toLowerCase()] ?? '' : s.player ?? '');
        if (s.running && s.art) {
            if (art.getAttribute('src') !== s.art) art.src = s.art;
            art.hidden = false;
        } else {
            art.removeAttribute('src');
            art.hidden = true;
        }
        const playing = state.playing;
        toggle.replaceChildren(glyph(playing ? 'pause' : 'play'));
        toggle.setAttribute('aria-label', playing ? text.pause : text.play);
        for (const b of [previous, toggle, next]) b.disabled = !s.running;
        volume.disabled = !s.running || s.volume === null;
        if (!volumeHeld && s.running && s.volume !== null) volume.value = String(Math.round(s.volume * 100));
        drawPosition();
        clearInterval(ticker);
        ticker = playing && !bar.hidden ? setInterval(drawPosition, TICK_MS) : null;
    }

    seek.addEventListener('input', () => {
        seeking = true;
        drawPosition();
    });
    seek.addEventListener('change', () => {
        seeking = false;
        const length = state.status.length;
        if (!state.status.running || !length) return;
        const target = (Number(seek.value) / SEEK_STEPS) * length;
        if (send(mediaControl('position', target))) {
            // Shown at once; the player's own report follows.
            state.status = { ...state.status, position: target };
            state.receivedAt = now();
        }
        drawPosition();
    });

    // While the slider moves, the player follows at a few steps a second.
    const sendVolume = () => {
        clearTimeout(volumeTimer);
        volumeTimer = null;
        volumeSentAt = now();
        send(mediaControl('volume', Number(volume.value) / 100));
    };
    volume.addEventListener('input', () => {
        volumeHeld = true;
        const wait = volumeSentAt + VOLUME_SEND_MS - now();
        if (wait <= 0) sendVolume();
        else if (volumeTimer === null) volumeTimer = setTimeout(sendVolume, wait);
    });
    volume.addEventListener('change', () => {
        volumeHeld = false;
        sendVolume();
    });

    return {
        element: bar,
        // A file was just opened from the phone: the bar shows at once.
        expect(fileName) {
            state.expect(fileName, now());
            draw();
            send(mediaStatus());
        },
        // Asks the PC for the player's state; it then also tells of changes.
        requestStatus() {
            send(mediaStatus());
        },
        handle(params) {
            state.update(params, now());
            draw();
        },
        reset() {
            state.reset();
            seeking = false;
            volumeHeld = false;
            draw();
        },
    };
}
