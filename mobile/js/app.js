// Wires the page: DOM events → gesture recogniser / keyboard logic → commands
// → WebSocket, and replies → media and application lists. The logic itself
// lives in the other modules; this file only connects them to the browser.

import { Connection, State } from './connection.js';
import { candidateHosts, findPc, loadPc, pcUrl, PROBES_BEFORE_SEARCH, rememberPc } from './relocate.js';
import { CLIPBOARD_GET, CLIPBOARD_SET, VOLUME_STATUS } from './desk.js';
import { DESK_TEXT, createClipboardPanel, createVolumeBar } from './desk-view.js';
import { BUTTON_CHANGE, BUTTON_LIST } from './buttons.js';
import { BUTTONS_TEXT, createUserButtons } from './buttons-view.js';
import { POWER, POWER_STATUS } from './power.js';
import { TalkClock, formatElapsed, presentCommand } from './present.js';
import { POWER_TEXT, createPowerPanel } from './power-view.js';
import { DEFAULTS as GESTURE_DEFAULTS, GestureRecognizer } from './gestures.js';
import {
    ARROW_KEYS, COMBOS, FUNCTION_KEYS, MEDIA_KEYS, MODIFIERS, SPECIAL_KEYS,
    comboCodes, diffText, shortcutCommand, typingCommands, untypedCount, untypedNote,
} from './keyboard.js';
import { MediaNavigator, baseName, parseApps, parseMediaListing } from './listing.js';
import { MEDIA_STATUS } from './nowplaying.js';
import { NOW_PLAYING_TEXT, createNowPlayingBar } from './nowplaying-view.js';
import { Command, VK, appExplore, appOpen, closeWindow, keyCombo, mouseDown, mouseUp } from './protocol.js';
import { SETTING_LIMITS, loadSettings, saveSettings } from './settings.js';
import { createFiles } from './files.js';
import { ScreenKeeper, makeKeepAwakeVideo, wantsScreenOn } from './wakelock.js';
import { t, pickLanguage, setLanguage, translatePage } from './i18n.js';
import { extractToken, forgetToken, parseFragment, resolveToken, saveToken } from './token.js';

const $ = (id) => document.getElementById(id);
const TABS = ['pad', 'keys', 'media', 'apps', 'files', 'present'];
const REPLY_TIMEOUT_MS = 8000;

// The phone's language, before anything is shown.
document.documentElement.lang = setLanguage(pickLanguage(navigator.languages ?? [navigator.language]));
translatePage(document);

function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text; // never innerHTML: names come from the PC's disk
    return node;
}

function icon(name) {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    const use = document.createElementNS('http://www.w3.org/2000/svg', 'use');
    use.setAttribute('href', `#i-${name}`);
    svg.appendChild(use);
    return svg;
}

// localStorage can be missing or throw (private browsing); fall back to memory.
function openStorage() {
    try {
        const s = window.localStorage;
        s.getItem('velmora.probe');
        return s;
    } catch {
        const map = new Map();
        return {
            getItem: (k) => (map.has(k) ? map.get(k) : null),
            setItem: (k, v) => map.set(k, String(v)),
            removeItem: (k) => map.delete(k),
        };
    }
}

const storage = openStorage();
let settings = loadSettings(storage);

// ---- pairing token -------------------------------------------------------

const resolved = resolveToken(location.hash, storage);
if (resolved.cleanHash !== null) {
    history.replaceState(history.state, '', location.pathname + location.search + resolved.cleanHash);
}

// ---- toast and haptics ---------------------------------------------------

let toastTimer = null;
function toast(text) {
    const t = $('toast');
    t.textContent = text;
    t.classList.add('show');
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => t.classList.remove('show'), 1800);
}

function buzz(ms = 8) {
    if (settings.haptics && typeof navigator.vibrate === 'function') navigator.vibrate(ms);
}

// ---- connection ----------------------------------------------------------

async function reachable(url, options = {}) {
    // Any HTTP answer means the PC is reachable there.
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), 4000);
    try {
        await fetch(url, { ...options, cache: 'no-store', signal: controller.signal });
        return true;
    } catch {
        return false;
    } finally {
        clearTimeout(timer);
    }
}

let failedProbes = 0;
let searching = false;

async function probeServer() {
    const answered = await reachable(new URL('index.html', location.href));
    failedProbes = answered ? 0 : failedProbes + 1;
    if (failedProbes >= PROBES_BEFORE_SEARCH && !searching) searchPc();
    return answered;
}

// The PC stopped answering at this address: look for it by name and at the
// addresses it announced, and move there with the pairing code.
async function searchPc() {
    searching = true;
    const hosts = candidateHosts(loadPc(storage), location.host, location.port || '6888');
    // Another origin: the answer is opaque, but that it came is all we need.
    const found = await findPc(hosts, (host) => reachable(`http://${host}/index.html`, { mode: 'no-cors' }));
    if (found && connection.token && connection.state !== State.CONNECTED) {
        location.replace(pcUrl(found, connection.token));
        return;
    }
    if (!found) toast(t('The PC does not answer at any address it had. Scan its QR code again.'));
    searching = false;
    failedProbes = 0;
}

const connection = new Connection(
    {
        createSocket: (url) => new WebSocket(url),
        probe: probeServer,
        setTimeout: (f, ms) => window.setTimeout(f, ms),
        clearTimeout: (id) => window.clearTimeout(id),
        now: () => Date.now(),
        location: window.location,
        visible: () => document.visibilityState === 'visible',
    },
    { onState: showState, onMessage: handleMessage, onOpen: handleOpen },
);

// Buttons held on the PC when the link dropped: released as soon as it is
// back, so a lost connection never leaves a mouse button stuck down.
const releaseOnReconnect = new Set();

function send(command) {
    return connection.send(command);
}

const files = createFiles({ send });

function sendAll(commands) {
    for (const command of commands) {
        const sent = send(command);
        if (command.command === 'mouseup' && !sent) releaseOnReconnect.add(command.params.button);
        if (sent && (command.command === 'mouseclick' || command.command === 'mousedown')) buzz();
    }
}

let countdownTimer = null;
let lastState = null;
let lastOutdatedReload = false;

function showState(state, detail = {}) {
    const status = $('status');
    const text = $('status-text');
    status.dataset.state = state;
    status.dataset.sealed = String(state === State.CONNECTED && Boolean(detail.sealed));
    status.title = '';
    clearInterval(countdownTimer);
    countdownTimer = null;

    if (lastState === State.CONNECTED && state !== State.CONNECTED) {
        releaseEverything();
        files.connectionLost();
    }
    lastState = state;
    lastOutdatedReload = state === State.OUTDATED && Boolean(detail.reload);

    switch (state) {
    case State.CONNECTED:
        text.textContent = t('connected');
        // Every session is sealed; the lock says so, and what it means on a tap-and-hold.
        status.title = t('Sealed: nobody else on the network can read or change what this page sends.');
        break;
    case State.OUTDATED:
        text.textContent = detail.reload ? t('page out of date · tap to reload') : t('Velmora on the PC is too old for this page');
        break;
    case State.CONNECTING:
        // A link that went silent: input made now is dropped, not sent later.
        text.textContent = detail.reconnecting ? t('link lost · reconnecting') : t('connecting');
        break;
    case State.UNPAIRED:
        text.textContent = t('not paired');
        break;
    case State.REFUSED:
        // The banner below spells out "not paired / wrong token"; the pill
        // stays short enough for narrow phones.
        text.textContent = t('not paired');
        status.title = t('not paired / wrong token');
        break;
    case State.REPLACED:
        text.textContent = t('another phone took over · tap to reconnect');
        break;
    case State.WAITING: {
        const update = () => {
            // A pause under a second would round up to "1 s" like the one after it, and
            // the tick that lands on the retry itself would say "1 s" once more.
            const s = Math.ceil((detail.retryAt - Date.now()) / 1000);
            if (detail.delay < 1000) text.textContent = t('offline · retrying');
            else if (s >= 1 || !text.textContent) text.textContent = t('offline · retry in {seconds} s', { seconds: Math.max(1, s) });
        };
        text.textContent = '';
        update();
        countdownTimer = setInterval(update, 1000);
        break;
    }
    default:
        text.textContent = state;
    }

    const needsPairing = state === State.UNPAIRED || state === State.REFUSED;
    $('pairing').hidden = !needsPairing;
    $('pairing-title').textContent = t(state === State.REFUSED ? 'not paired / wrong token' : 'not paired');
    $('pair-retry').hidden = state !== State.REFUSED;
    if (state !== State.CONNECTED) {
        cancelPendingReplies();
        renderMediaPlaceholder();
        renderAppsPlaceholder();
        nowPlaying.reset();
        pcVolume.reset();
    }
}

function handleOpen(params) {
    rememberPc(storage, params);
    failedProbes = 0;
    for (const button of releaseOnReconnect) send(mouseUp(button));
    releaseOnReconnect.clear();
    mediaShown = false;
    appsShown = false;
    nowPlaying.requestStatus(); // the PC then tells of every change of its player
    pcVolume.requestStatus(); // and of its own volume
    userButtons.requestList();
    powerPanel.requestStatus();
    loadVisibleList();
}

function handleMessage(message) {
    if (files.handle(message)) return;
    if (message.command === 'mediaexplore') {
        const listing = parseMediaListing(message.params);
        if (listing && media.isCurrent(listing)) renderMedia(listing);
    } else if (message.command === 'appexplore') {
        renderApps(parseApps(message.params));
    } else if (message.command === MEDIA_STATUS) {
        nowPlaying.handle(message.params);
    } else if (message.command === VOLUME_STATUS) {
        pcVolume.handle(message.params);
    } else if (message.command === CLIPBOARD_SET) {
        clipboard.handleSet(message.params);
    } else if (message.command === CLIPBOARD_GET) {
        clipboard.handleGet(message.params);
    } else if (message.command === BUTTON_LIST) {
        userButtons.handleList(message.params);
    } else if (message.command === BUTTON_CHANGE) {
        userButtons.handleChange(message.params);
    } else if (message.command === POWER_STATUS) {
        powerPanel.handleStatus(message.params);
    } else if (message.command === POWER) {
        powerPanel.handleReply(message.params);
    } else if (message.command === Command.KEY_INPUT) {
        showUntyped(message.params);
    }
}

$('status').addEventListener('click', () => {
    // A page from before the PC's last update: only a fresh copy of it can talk to the PC.
    if (connection.state === State.OUTDATED && lastOutdatedReload) location.reload();
    if ([State.WAITING, State.REFUSED, State.REPLACED].includes(connection.state)) {
        toast(t('Reconnecting now'));
        connection.retryNow();
    }
});
$('pair-retry').addEventListener('click', () => connection.retryNow());

$('pair-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = $('pair-input');
    const token = extractToken(input.value);
    if (!token) {
        $('pair-error').textContent = t('That is not a pairing token (32 hexadecimal characters).');
        return;
    }
    $('pair-error').textContent = '';
    input.value = '';
    input.blur();
    saveToken(storage, token);
    connection.start(token);
});

// ---- touch pad -----------------------------------------------------------

const pad = $('pad');
const recognizer = new GestureRecognizer(gestureOptions());
const touchDots = new Map();

function gestureOptions() {
    return {
        sensitivity: settings.sensitivity,
        scrollStep: GESTURE_DEFAULTS.scrollStep / settings.scrollSpeed,
        naturalScroll: settings.naturalScroll,
        pixelRatio: window.devicePixelRatio || 1,
    };
}

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

// ---- keeping the screen on -----------------------------------------------

const screenKeeper = new ScreenKeeper({
    wakeLock: window.isSecureContext ? navigator.wakeLock ?? null : null,
    makeVideo: () => makeKeepAwakeVideo(document),
});

function updateScreenKeeper() {
    screenKeeper.update(
        wantsScreenOn({
            enabled: settings.keepScreenOn,
            tab: currentTab,
            visible: document.visibilityState === 'visible',
        }),
    );
}
// A fallback video may need a touch to start.
document.addEventListener('pointerdown', () => screenKeeper.retry(), { passive: true });

document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden') releaseEverything();
    else connection.resume();
    updateScreenKeeper();
});
window.addEventListener('pagehide', releaseEverything);
window.addEventListener('online', () => connection.resume());
window.addEventListener('resize', () => recognizer.configure({ pixelRatio: window.devicePixelRatio || 1 }));

// ---- keyboard ------------------------------------------------------------

const latched = new Set();
const modButtons = new Map();

function keyButton(label, className, onPress, title) {
    const b = el('button', `key ${className ?? ''}`.trim(), label);
    b.type = 'button';
    if (title) b.setAttribute('aria-label', title);
    b.addEventListener('click', onPress);
    // Keep the text field focused (and the phone keyboard up) while tapping keys.
    b.addEventListener('mousedown', (event) => event.preventDefault());
    return b;
}

function clearLatched() {
    latched.clear();
    for (const b of modButtons.values()) b.setAttribute('aria-pressed', 'false');
}

function pressKey(vk) {
    send(keyCombo(comboCodes(latched, vk)));
    clearLatched();
}

for (const mod of MODIFIERS) {
    const b = keyButton(mod.label, 'mod', () => {
        if (latched.has(mod.id)) latched.delete(mod.id);
        else latched.add(mod.id);
        b.setAttribute('aria-pressed', String(latched.has(mod.id)));
    });
    b.setAttribute('aria-pressed', 'false');
    modButtons.set(mod.id, b);
    $('mod-keys').appendChild(b);
}
for (const [row, keys] of [['special-keys', SPECIAL_KEYS], ['arrow-keys', ARROW_KEYS], ['function-keys', FUNCTION_KEYS]]) {
    for (const key of keys) $(row).appendChild(keyButton(key.label, '', () => pressKey(key.vk), key.title && t(key.title)));
}
for (const combo of COMBOS) {
    const b = keyButton('', 'combo', () => {
        if (send(keyCombo(combo.codes))) toast(combo.hint);
    });
    b.append(el('span', '', t(combo.label)), el('small', '', combo.hint));
    $('combo-keys').appendChild(b);
}

const field = $('type-field');
let typed = '';
const FIELD_LIMIT = 2000;

function syncField() {
    const value = field.value;
    if (latched.size > 0) {
        const { backspaces, text } = diffText(typed, value);
        const chars = Array.from(text);
        if (backspaces === 0 && chars.length === 1) {
            const shortcut = shortcutCommand(latched, chars[0]);
            if (shortcut) {
                send(shortcut);
                clearLatched();
                field.value = typed;
                return;
            }
        }
    }
    const commands = typingCommands(typed, value);
    // Typed while the link is down: it stays in the field, and goes with the next
    // keystroke or Enter once the link is back, never by itself.
    if (commands.length > 0 && !connection.connected) return;
    sendAll(commands);
    typed = value;
    // The PC keeps what was typed; the field only needs enough history to
    // mirror corrections of the last words.
    if (typed.length > FIELD_LIMIT) {
        field.value = '';
        typed = '';
    }
}

// Characters the PC could neither type nor paste, told beside the field; counts of texts that
// follow each other add up while the note is shown.
const typeNote = $('type-note');
let untypedShown = 0;
let typeNoteTimer = null;
function showUntyped(params) {
    const count = untypedCount(params);
    if (count === 0) return;
    untypedShown = (typeNote.hidden ? 0 : untypedShown) + count;
    typeNote.textContent = untypedNote(untypedShown, params.reason);
    typeNote.hidden = false;
    clearTimeout(typeNoteTimer);
    typeNoteTimer = setTimeout(() => { typeNote.hidden = true; }, 10000);
}

function pressEnter() {
    if (!connection.connected) {
        toast(t('Not connected: the text stays here until you send it again.'));
        return;
    }
    syncField();
    pressKey(VK.RETURN);
    field.value = '';
    typed = '';
}

const HARDWARE_KEYS = {
    ArrowUp: VK.UP, ArrowDown: VK.DOWN, ArrowLeft: VK.LEFT, ArrowRight: VK.RIGHT,
    Escape: VK.ESCAPE, Tab: VK.TAB, Delete: VK.DELETE, Home: VK.HOME, End: VK.END,
    PageUp: VK.PRIOR, PageDown: VK.NEXT,
};

field.addEventListener('input', (event) => {
    if (!event.isComposing) syncField();
});
field.addEventListener('compositionend', syncField);
field.addEventListener('keydown', (event) => {
    if (event.isComposing || event.keyCode === 229) return;
    if (event.key === 'Enter') {
        event.preventDefault();
        pressEnter();
    } else if (event.key === 'Backspace' && field.value === '') {
        // Nothing left in the field to delete, so no input event would come.
        event.preventDefault();
        pressKey(VK.BACK);
    } else if (field.value === '' && HARDWARE_KEYS[event.key] !== undefined) {
        event.preventDefault();
        pressKey(HARDWARE_KEYS[event.key]);
    }
});
$('type-enter').addEventListener('mousedown', (event) => event.preventDefault());
$('type-enter').addEventListener('click', pressEnter);

// Closing a window cannot be undone, so it takes a second tap to confirm.
for (const btn of document.querySelectorAll('[data-close-window]')) {
    const label = btn.querySelector('span');
    let armedTimer = null;
    const disarm = () => {
        clearTimeout(armedTimer);
        armedTimer = null;
        btn.classList.remove('armed');
        label.textContent = t('Close window');
    };
    btn.addEventListener('click', () => {
        if (armedTimer !== null) {
            disarm();
            if (send(closeWindow())) toast(t('Closed the active window'));
            return;
        }
        btn.classList.add('armed');
        label.textContent = t('Tap again to close the active window');
        armedTimer = setTimeout(disarm, 3000);
    });
}

// ---- media browser -------------------------------------------------------

const media = new MediaNavigator();
let mediaShown = false; // a listing for the current place has been asked for
let mediaTimer = null;

for (const key of MEDIA_KEYS) {
    const b = el('button', `key${key.id === 'playpause' ? ' main' : ''}`);
    b.type = 'button';
    b.setAttribute('aria-label', t(key.label));
    b.appendChild(icon(key.id));
    b.addEventListener('click', () => send(keyCombo([key.vk])));
    $('media-keys').appendChild(b);
}

const nowPlayingText = Object.fromEntries(Object.entries(NOW_PLAYING_TEXT).map(([key, text]) => [key, t(text)]));
const nowPlaying = createNowPlayingBar({ parent: $('view-media'), before: $('media-keys'), send, text: nowPlayingText });
const deskText = Object.fromEntries(Object.entries(DESK_TEXT).map(([key, text]) => [key, t(text)]));
const pcVolume = createVolumeBar({ parent: $('view-media'), before: $('media-keys'), send, text: deskText });
const clipboard = createClipboardPanel({ parent: $('view-keys'), before: $('view-keys').querySelector('.key-group'), send, toast, text: deskText });
const buttonsText = Object.fromEntries(Object.entries(BUTTONS_TEXT).map(([key, text]) => [key, t(text)]));
const powerText = Object.fromEntries(Object.entries(POWER_TEXT).map(([key, text]) => [key, t(text)]));
const powerPanel = createPowerPanel({ parent: $('view-apps'), before: $('view-apps').querySelector('.close-window'), send, toast, text: powerText });
const userButtons = createUserButtons({ parent: $('view-keys'), before: $('combo-keys').parentElement, send, toast, text: buttonsText });

// Deep paths are told apart by their end, so long ones lose their start.
function shortenStart(text, max) {
    const chars = Array.from(text);
    return chars.length <= max ? text : `…${chars.slice(chars.length - max + 1).join('')}`;
}

function setMediaHeader() {
    const trail = media.trail;
    $('media-title').textContent = media.atRoot ? t('Media folders') : trail[trail.length - 1];
    $('media-path').textContent = media.atRoot ? '' : shortenStart(media.path, 44);
    $('media-back').disabled = media.atRoot;
}

// The note under a list, with a "Try again" button when onRetry is given.
function listMessage(boxId, text, onRetry) {
    const box = $(boxId);
    box.replaceChildren();
    if (text) box.appendChild(el('div', '', text));
    if (onRetry) {
        const b = el('button', 'btn', t('Try again'));
        b.type = 'button';
        b.addEventListener('click', onRetry);
        box.appendChild(b);
    }
}

function mediaMessage(text, retry) {
    listMessage('media-empty', text, retry && (() => requestMedia(media.refresh())));
}

function requestMedia(command) {
    setMediaHeader();
    clearTimeout(mediaTimer);
    $('media-list').replaceChildren();
    if (!send(command)) {
        renderMediaPlaceholder();
        return;
    }
    mediaShown = true;
    mediaMessage('Loading…');
    mediaTimer = setTimeout(() => mediaMessage(t('No answer from the PC.'), true), REPLY_TIMEOUT_MS);
}

function renderMediaPlaceholder() {
    if (connection.connected) return;
    clearTimeout(mediaTimer);
    setMediaHeader();
    $('media-list').replaceChildren();
    mediaMessage(t('Connect to the PC to browse its media folders.'));
    mediaShown = false;
}

function listItem(iconName, iconClass, name, meta, withChevron, onTap) {
    const li = el('li');
    const b = el('button', 'item');
    b.type = 'button';
    const badge = el('span', `item-icon ${iconClass}`);
    if (iconName) badge.appendChild(icon(iconName));
    else badge.textContent = Array.from(name.trim())[0]?.toUpperCase() ?? '?';
    const text = el('span', 'item-text');
    text.appendChild(el('span', 'item-name', name));
    if (meta) text.appendChild(el('span', 'item-meta', meta));
    b.append(badge, text);
    if (withChevron) {
        const chevron = icon('chevron');
        chevron.classList.add('chevron');
        b.appendChild(chevron);
    }
    b.addEventListener('click', onTap);
    li.appendChild(b);
    return li;
}

function renderMedia(listing) {
    clearTimeout(mediaTimer);
    setMediaHeader();
    const items = [];
    for (const dir of listing.dirs) {
        const meta = listing.root ? dir.path : '';
        items.push(listItem('folder', 'dir', dir.name, meta, true, () => requestMedia(media.enter(dir))));
    }
    for (const file of listing.files) {
        const meta = [file.sizeText, file.modified].filter(Boolean).join(' · ');
        const iconName = file.kind === 'other' ? 'file' : file.kind;
        items.push(listItem(iconName, file.kind, file.name, meta, false, () => {
            if (send(media.open(file))) {
                toast(t('Opening {name}', { name: file.name }));
                nowPlaying.expect(file.name);
            }
        }));
    }
    $('media-list').replaceChildren(...items);
    if (!listing.exists) mediaMessage(t('This folder is not available on the PC.'), true);
    else if (listing.root && items.length === 0) mediaMessage(t('No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.'));
    else if (items.length === 0) mediaMessage(t('No media files here.'));
    else if (listing.truncated) mediaMessage(t('Only the first entries are shown.'));
    else mediaMessage('');
}

$('media-back').addEventListener('click', () => {
    const command = media.back();
    if (command) requestMedia(command);
});
$('media-refresh').addEventListener('click', () => requestMedia(media.refresh()));

// ---- applications --------------------------------------------------------

let appsShown = false;
let appsTimer = null;

function appsMessage(text, retry) {
    listMessage('apps-empty', text, retry && requestApps);
}

function requestApps() {
    clearTimeout(appsTimer);
    if (!send(appExplore())) {
        renderAppsPlaceholder();
        return;
    }
    appsShown = true;
    if ($('apps-list').children.length === 0) appsMessage('Loading…');
    appsTimer = setTimeout(() => {
        if ($('apps-list').children.length === 0) appsMessage(t('No answer from the PC.'), true);
    }, REPLY_TIMEOUT_MS);
}

function renderAppsPlaceholder() {
    if (connection.connected) return;
    clearTimeout(appsTimer);
    $('apps-list').replaceChildren();
    $('apps-count').textContent = '';
    appsMessage(t('Connect to the PC to see its applications.'));
    appsShown = false;
}

const AVATAR_COLOURS = ['#264e86', '#1780d5', '#6b4fbb', '#b0476b', '#2f8f83', '#b7791f'];
function avatarColour(name) {
    let h = 0;
    for (const ch of name) h = (h * 31 + ch.codePointAt(0)) >>> 0;
    return AVATAR_COLOURS[h % AVATAR_COLOURS.length];
}

function renderApps(apps) {
    clearTimeout(appsTimer);
    const items = apps.map((app) => {
        const meta = [baseName(app.path), app.args].filter(Boolean).join(' ');
        const li = listItem(null, 'letter', app.name, meta, false, () => {
            if (send(appOpen(app))) toast(t('Starting {name}', { name: app.name }));
        });
        li.querySelector('.item-icon').style.background = avatarColour(app.name);
        return li;
    });
    $('apps-list').replaceChildren(...items);
    $('apps-count').textContent = apps.length ? t('{count} registered', { count: apps.length }) : '';
    if (apps.length === 0) appsMessage(t('No applications yet. Add them in Velmora on the PC (Desktop App), then press Apply.'));
    else appsMessage('');
}

$('apps-refresh').addEventListener('click', requestApps);

function cancelPendingReplies() {
    clearTimeout(mediaTimer);
    clearTimeout(appsTimer);
}

// ---- tabs ----------------------------------------------------------------

let currentTab = 'pad';

function loadVisibleList() {
    if (!connection.connected) return;
    if (currentTab === 'media' && !mediaShown) requestMedia(media.refresh());
    if (currentTab === 'apps' && !appsShown) requestApps();
}

function setTab(name) {
    currentTab = TABS.includes(name) ? name : 'pad';
    for (const view of document.querySelectorAll('.view')) view.hidden = view.dataset.view !== currentTab;
    for (const tab of document.querySelectorAll('.tab')) tab.setAttribute('aria-selected', String(tab.dataset.tab === currentTab));
    if (currentTab !== 'pad') releaseEverything();
    updateScreenKeeper();
    history.replaceState(history.state, '', `${location.pathname}${location.search}#tab=${currentTab}`);
    loadVisibleList();
}

for (const tab of document.querySelectorAll('.tab')) {
    tab.setAttribute('role', 'tab');
    tab.addEventListener('click', () => setTab(tab.dataset.tab));
}

// ---- presenter -----------------------------------------------------------

const talkClock = new TalkClock();
function showTalkTime() {
    $('present-time').textContent = formatElapsed(talkClock.elapsed());
}
for (const button of document.querySelectorAll('[data-present]')) {
    button.addEventListener('click', () => {
        const what = button.dataset.present;
        if (!send(presentCommand(what))) {
            toast(t('Not connected'));
            return;
        }
        buzz();
        talkClock.press(what);
        showTalkTime();
    });
}
window.setInterval(() => {
    if (currentTab === 'present' && talkClock.running) showTalkTime();
}, 1000);

// ---- settings ------------------------------------------------------------

function bindRange(id, outputId, key) {
    const input = $(id);
    const limits = SETTING_LIMITS[key];
    Object.assign(input, { min: limits.min, max: limits.max, step: limits.step, value: settings[key] });
    const show = () => {
        $(outputId).textContent = `${Number(settings[key]).toFixed(1)}×`;
    };
    show();
    input.addEventListener('input', () => {
        settings = saveSettings(storage, { ...settings, [key]: Number(input.value) });
        recognizer.configure(gestureOptions());
        show();
    });
}

function bindSwitch(id, key) {
    const input = $(id);
    input.checked = settings[key];
    input.addEventListener('change', () => {
        settings = saveSettings(storage, { ...settings, [key]: input.checked });
        recognizer.configure(gestureOptions());
        updateScreenKeeper();
    });
}

bindRange('sensitivity', 'sensitivity-value', 'sensitivity');
bindRange('scroll-speed', 'scroll-value', 'scrollSpeed');
bindSwitch('natural-scroll', 'naturalScroll');
bindSwitch('haptics', 'haptics');
bindSwitch('keep-screen-on', 'keepScreenOn');

$('open-settings').addEventListener('click', () => {
    $('settings').hidden = false;
});
$('close-settings').addEventListener('click', () => {
    $('settings').hidden = true;
});
$('settings').addEventListener('click', (event) => {
    if (event.target === $('settings')) $('settings').hidden = true;
});
$('forget-pairing').addEventListener('click', () => {
    forgetToken(storage);
    connection.start(null);
    $('settings').hidden = true;
});

// ---- a new pairing link in the open page -----------------------------------

// Scanning a new pairing code while this page is open changes only the
// fragment, which loads nothing: the page takes the token up itself and drops
// it from the address bar again.
window.addEventListener('hashchange', () => {
    const fresh = resolveToken(location.hash, storage);
    if (!fresh.fromFragment) return;
    history.replaceState(history.state, '', `${location.pathname}${location.search}#tab=${currentTab}`);
    if (fresh.token !== connection.token || connection.state !== State.CONNECTED) connection.start(fresh.token);
});

// ---- start ---------------------------------------------------------------

setTab(parseFragment(location.hash).get('tab') ?? 'pad');
connection.start(resolved.token);
