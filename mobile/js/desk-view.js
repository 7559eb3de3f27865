// The PC's own volume (a row beside the now-playing bar, shown also when no player runs)
// and the clipboard panel of the Keys tab. Builds its own elements; app.js places them and
// feeds them messages.

import {
    CLIPBOARD_ERRORS, clipboardGet, clipboardSetMessages, parseClipboardReply, parseVolumeStatus,
    volumeMute, volumeSet, volumeStatus,
} from './desk.js';
import { node } from './dom.js';

// Every visible text, in one place for the translations.
export const DESK_TEXT = Object.freeze({
    pcVolume: 'PC volume',
    mute: 'Mute',
    unmute: 'Unmute',
    noSoundServer: 'No sound server on the PC',
    noOutput: 'No sound output on the PC',
    clipboard: 'Clipboard',
    clipboardField: 'Text for the PC clipboard',
    clipboardPlaceholder: 'Paste or type text for the PC',
    sendToPc: 'Send to PC',
    getPcClipboard: 'Get PC clipboard',
    copy: 'Copy',
    copied: 'Copied',
    copyFailed: 'Select the text and copy it by hand',
    sent: 'On the PC clipboard',
    notConnected: 'Not connected',
    takenAt: 'PC clipboard at {time}',
    ...CLIPBOARD_ERRORS,
});

const VOLUME_SEND_MS = 150;
const SPEAKER = 'M4 9.5h3.5L12 5v14l-4.5-4.5H4z';
const CROSS = 'M16 9.5l5 5M21 9.5l-5 5';
const WAVES = 'M16 9a4 4 0 0 1 0 6M18.5 6.5a7.5 7.5 0 0 1 0 11';


function speaker(muted) {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('viewBox', '0 0 24 24');
    for (const d of [SPEAKER, muted ? CROSS : WAVES]) {
        const path = document.createElementNS('http://www.w3.org/2000/svg', 'path');
        path.setAttribute('d', d);
        svg.appendChild(path);
    }
    return svg;
}

// `send(command)` sends one command object and tells whether it went out.
export function createVolumeBar({ parent, before = null, send, now = () => Date.now(), text = DESK_TEXT }) {
    const bar = node('section', 'pc-volume', { id: 'pc-volume', 'aria-label': text.pcVolume });
    const mute = node('button', 'key pcv-mute', { id: 'pcv-mute', type: 'button' });
    const slider = node('input', 'pcv-slider', { id: 'pcv-slider', type: 'range', min: '0', max: '100', step: '1', 'aria-label': text.pcVolume });
    const value = node('output', 'pcv-value', { id: 'pcv-value' });
    const note = node('span', 'pcv-note subtle', { id: 'pcv-note' });
    bar.append(mute, slider, value, note);
    parent.insertBefore(bar, before);

    let status = parseVolumeStatus(null);
    let held = false;
    let sentAt = -Infinity;
    let timer = null;

    function draw() {
        bar.dataset.state = status.available ? 'ready' : (status.server ? 'no-output' : 'no-server');
        mute.replaceChildren(speaker(status.muted));
        mute.setAttribute('aria-label', status.muted ? text.unmute : text.mute);
        mute.setAttribute('aria-pressed', String(status.muted));
        mute.disabled = !status.available;
        slider.disabled = !status.available;
        slider.hidden = value.hidden = !status.available;
        note.hidden = status.available;
        note.textContent = status.server ? text.noOutput : text.noSoundServer;
        if (!held && status.available) slider.value = String(status.volume);
        value.textContent = status.available ? `${slider.value}%` : '';
    }

    // While the slider moves, the PC follows at a few steps a second.
    const sendVolume = () => {
        clearTimeout(timer);
        timer = null;
        sentAt = now();
        send(volumeSet(Number(slider.value)));
    };
    slider.addEventListener('input', () => {
        held = true;
        value.textContent = `${slider.value}%`;
        const wait = sentAt + VOLUME_SEND_MS - now();
        if (wait <= 0) sendVolume();
        else if (timer === null) timer = setTimeout(sendVolume, wait);
    });
    slider.addEventListener('change', () => {
        held = false;
        sendVolume();
    });
    mute.addEventListener('click', () => send(volumeMute(!status.muted)));
    draw();

    return {
        element: bar,
        // Asks the PC for its volume; it then also tells of every change.
        requestStatus() {
            send(volumeStatus());
        },
        handle(params) {
            status = parseVolumeStatus(params);
            draw();
        },
        reset() {
            status = parseVolumeStatus(null);
            held = false;
            draw();
        },
    };
}

export function createClipboardPanel({ parent, before = null, send, toast = () => {}, text = DESK_TEXT }) {
    const group = node('div', 'key-group clipboard', { id: 'clipboard' });
    const title = node('h2');
    title.textContent = text.clipboard;
    const field = node('textarea', 'clip-field', {
        id: 'clip-field', rows: '3', placeholder: text.clipboardPlaceholder, 'aria-label': text.clipboardField,
        autocomplete: 'off', autocapitalize: 'off', spellcheck: 'false',
    });
    const sendButton = node('button', 'btn primary', { id: 'clip-send', type: 'button' });
    sendButton.textContent = text.sendToPc;
    const getButton = node('button', 'btn', { id: 'clip-get', type: 'button' });
    getButton.textContent = text.getPcClipboard;
    const buttons = node('div', 'clip-buttons');
    buttons.append(sendButton, getButton);
    const result = node('div', 'clip-result', { id: 'clip-result' });
    result.hidden = true;
    const when = node('span', 'subtle', { id: 'clip-time' });
    const received = node('textarea', 'clip-field', { id: 'clip-received', rows: '3', readonly: '', 'aria-label': text.getPcClipboard });
    const copy = node('button', 'btn', { id: 'clip-copy', type: 'button' });
    copy.textContent = text.copy;
    result.append(when, received, copy);
    const message = node('p', 'clip-message subtle', { id: 'clip-message', role: 'status' });
    group.append(title, field, buttons, message, result);
    parent.insertBefore(group, before);

    const say = (words) => {
        message.textContent = words;
    };

    sendButton.addEventListener('click', () => {
        const messages = clipboardSetMessages(field.value);
        if (messages === null) {
            say(text.tooLarge);
            return;
        }
        say('');
        for (const m of messages) {
            if (!send(m)) {
                say(text.notConnected);
                return;
            }
        }
    });
    getButton.addEventListener('click', () => {
        say(send(clipboardGet()) ? '' : text.notConnected);
    });
    // Plain-http pages have no Clipboard API; a copy command from this tap still works.
    copy.addEventListener('click', () => {
        received.focus();
        received.select();
        received.setSelectionRange(0, received.value.length);
        let done = false;
        try {
            done = document.execCommand('copy');
        } catch {
            done = false;
        }
        toast(done ? text.copied : text.copyFailed);
    });

    return {
        element: group,
        handleSet(params) {
            const reply = parseClipboardReply(params);
            say(reply.ok ? text.sent : text[reply.error]);
            if (reply.ok) toast(text.sent);
        },
        handleGet(params, formatTime = (ms) => new Date(ms).toLocaleTimeString()) {
            const reply = parseClipboardReply(params);
            if (!reply.ok) {
                say(text[reply.error]);
                result.hidden = true;
                return;
            }
            say('');
            received.value = reply.text;
            when.textContent = text.takenAt.replace('{time}', reply.takenAt === null ? '' : formatTime(reply.takenAt));
            result.hidden = false;
        },
    };
}
