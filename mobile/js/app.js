// The page's shell: the connection and its state, the PC's messages handed to the tab they
// belong to, the tabs themselves, keeping the screen on, and the settings. Each tab's wiring
// lives in its own module (pad-tab.js, keys-tab.js, media-tab.js, apps-tab.js, files.js,
// present-tab.js); the logic itself in the modules those use.

import { Connection, State } from './connection.js';
import { candidateHosts, findPc, loadPc, pcUrl, PROBES_BEFORE_SEARCH, rememberPc } from './relocate.js';
import { DEFAULTS as GESTURE_DEFAULTS } from './gestures.js';
import { closeWindow, mouseUp } from './protocol.js';
import { SETTING_LIMITS, loadSettings, saveSettings } from './settings.js';
import { createFiles } from './files.js';
import { ScreenKeeper, makeKeepAwakeVideo, wantsScreenOn } from './wakelock.js';
import { t, pickLanguage, setLanguage, translatePage } from './i18n.js';
import { extractToken, forgetToken, parseFragment, resolveToken, saveToken } from './token.js';
import { $ } from './page.js';
import { createPad } from './pad-tab.js';
import { createKeys } from './keys-tab.js';
import { createMedia } from './media-tab.js';
import { createApps } from './apps-tab.js';
import { createPresenter } from './present-tab.js';

const TABS = ['pad', 'keys', 'media', 'apps', 'files', 'present'];

// The phone's language, before anything is shown.
document.documentElement.lang = setLanguage(pickLanguage(navigator.languages ?? [navigator.language]));
translatePage(document);

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
        pad.releaseEverything();
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
        media.disconnected();
        apps.disconnected();
    }
}

function handleOpen(params) {
    rememberPc(storage, params);
    failedProbes = 0;
    for (const button of releaseOnReconnect) send(mouseUp(button));
    releaseOnReconnect.clear();
    media.connected();
    keys.connected();
    apps.connected();
    loadVisibleList();
}

// The PC's messages, each to the tab it belongs to.
const replyTakers = [];

function handleMessage(message) {
    for (const taker of replyTakers) {
        if (taker.handle(message)) return;
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

// ---- tabs' wiring ----------------------------------------------------------

function gestureOptions() {
    return {
        sensitivity: settings.sensitivity,
        scrollStep: GESTURE_DEFAULTS.scrollStep / settings.scrollSpeed,
        naturalScroll: settings.naturalScroll,
        pixelRatio: window.devicePixelRatio || 1,
    };
}

const pad = createPad({ connection, sendAll, options: gestureOptions });

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
    if (document.visibilityState === 'hidden') pad.releaseEverything();
    else connection.resume();
    updateScreenKeeper();
});
window.addEventListener('pagehide', () => pad.releaseEverything());
window.addEventListener('online', () => connection.resume());
window.addEventListener('resize', () => pad.configure({ pixelRatio: window.devicePixelRatio || 1 }));

const keys = createKeys({ connection, send, sendAll, toast });

// Closing a window cannot be undone, so it takes a second tap to confirm (the Keys and the Apps
// tabs each have the button).
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

const media = createMedia({ connection, send, toast });
const apps = createApps({ connection, send, toast });
replyTakers.push(files, media, apps, keys);

// ---- tabs ----------------------------------------------------------------

let currentTab = 'pad';

function loadVisibleList() {
    if (!connection.connected) return;
    if (currentTab === 'media') media.load();
    if (currentTab === 'apps') apps.load();
}

function setTab(name) {
    currentTab = TABS.includes(name) ? name : 'pad';
    for (const view of document.querySelectorAll('.view')) view.hidden = view.dataset.view !== currentTab;
    for (const tab of document.querySelectorAll('.tab')) tab.setAttribute('aria-selected', String(tab.dataset.tab === currentTab));
    if (currentTab !== 'pad') pad.releaseEverything();
    updateScreenKeeper();
    history.replaceState(history.state, '', `${location.pathname}${location.search}#tab=${currentTab}`);
    loadVisibleList();
}

for (const tab of document.querySelectorAll('.tab')) {
    tab.setAttribute('role', 'tab');
    tab.addEventListener('click', () => setTab(tab.dataset.tab));
}

createPresenter({ send, toast, buzz, shown: () => currentTab === 'present' });

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
        pad.configure();
        show();
    });
}

function bindSwitch(id, key) {
    const input = $(id);
    input.checked = settings[key];
    input.addEventListener('change', () => {
        settings = saveSettings(storage, { ...settings, [key]: input.checked });
        pad.configure();
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
