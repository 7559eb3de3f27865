// Builders for the command objects of the phone protocol. Every message the
// client sends is one {"command", "params"} object; the server reads numbers
// strictly (a fractional "dx" counts as 0, a string "double" as false), so
// the builders normalise types here instead of trusting callers.

export const Command = Object.freeze({
    MOUSE_MOVE: 'mousemove',
    MOUSE_CLICK: 'mouseclick',
    MOUSE_DOWN: 'mousedown',
    MOUSE_UP: 'mouseup',
    MOUSE_WHEEL: 'mousewheel',
    KEY_INPUT: 'keyinput',
    MEDIA_EXPLORE: 'mediaexplore',
    MEDIA_OPEN: 'mediaopen',
    APP_EXPLORE: 'appexplore',
    APP_OPEN: 'appopen',
    CLOSE_WINDOW: 'closewindow',
});

// Windows virtual-key codes, as the keyinput "keycodes" array takes them.
export const VK = Object.freeze({
    BACK: 0x08,
    TAB: 0x09,
    RETURN: 0x0d,
    SHIFT: 0x10,
    CONTROL: 0x11,
    MENU: 0x12, // Alt
    PAUSE: 0x13,
    ESCAPE: 0x1b,
    SPACE: 0x20,
    PRIOR: 0x21, // Page Up
    NEXT: 0x22, // Page Down
    END: 0x23,
    HOME: 0x24,
    LEFT: 0x25,
    UP: 0x26,
    RIGHT: 0x27,
    DOWN: 0x28,
    SNAPSHOT: 0x2c, // Print Screen
    INSERT: 0x2d,
    DELETE: 0x2e,
    LWIN: 0x5b,
    APPS: 0x5d, // context-menu key
    F1: 0x70,
    VOLUME_MUTE: 0xad,
    VOLUME_DOWN: 0xae,
    VOLUME_UP: 0xaf,
    MEDIA_NEXT_TRACK: 0xb0,
    MEDIA_PREV_TRACK: 0xb1,
    MEDIA_STOP: 0xb2,
    MEDIA_PLAY_PAUSE: 0xb3,
});

export const BUTTONS = Object.freeze(['left', 'right', 'middle']);

// Longest "text" sent in one keyinput message. The server types every UTF-16
// unit separately, so long pastes go out in several bounded messages.
export const MAX_TEXT_UNITS = 200;

const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;

// The server reads integers with toInt(0): anything fractional or out of the
// 32-bit range would silently become 0, so truncate and clamp here.
export function toWireInt(value) {
    const n = Number(value);
    if (!Number.isFinite(n)) return 0;
    const t = Math.trunc(n);
    if (t < INT32_MIN) return INT32_MIN;
    if (t > INT32_MAX) return INT32_MAX;
    return t === 0 ? 0 : t; // no -0 on the wire
}

function checkButton(button) {
    if (!BUTTONS.includes(button)) throw new RangeError(`unknown mouse button: ${button}`);
    return button;
}

function make(command, params) {
    return { command, params };
}

export function mouseMove(dx, dy) {
    return make(Command.MOUSE_MOVE, { dx: toWireInt(dx), dy: toWireInt(dy) });
}

// A double click is "mouseclick" with "double": true, which the server only
// honours for the left button.
export function mouseClick(button = 'left', { double = false, timestamp = Date.now() } = {}) {
    checkButton(button);
    const ts = Number(timestamp);
    return make(Command.MOUSE_CLICK, {
        button,
        double: double === true && button === 'left',
        timestamp: Number.isFinite(ts) ? Math.trunc(ts) : 0,
    });
}

export function mouseDown(button = 'left') {
    return make(Command.MOUSE_DOWN, { button: checkButton(button) });
}

export function mouseUp(button = 'left') {
    return make(Command.MOUSE_UP, { button: checkButton(button) });
}

// Wheel notches: positive scrolls up (away from the user), negative down.
export function mouseWheel(amount) {
    return make(Command.MOUSE_WHEEL, { amount: toWireInt(amount) });
}

// Finger scrolling in 120ths of a notch (positive up), so that the PC scrolls smoothly where
// its desktop can; "end" once the fingers lift. The server refuses more than MAX_WHEEL_FINE.
export const WHEEL_FINE_PER_NOTCH = 120;
export const MAX_WHEEL_FINE = 100 * WHEEL_FINE_PER_NOTCH;

export function mouseWheelFine(units, end = false) {
    const fine = Math.min(Math.max(toWireInt(units), -MAX_WHEEL_FINE), MAX_WHEEL_FINE);
    return make(Command.MOUSE_WHEEL, end === true ? { fine, end: true } : { fine });
}

export function keyText(text) {
    return make(Command.KEY_INPUT, { text: String(text) });
}

// Splits text into keyinput messages of at most MAX_TEXT_UNITS UTF-16 units,
// never between the two halves of a surrogate pair.
export function keyTextChunks(text, maxUnits = MAX_TEXT_UNITS) {
    const s = String(text);
    const out = [];
    let start = 0;
    while (start < s.length) {
        let end = Math.min(start + maxUnits, s.length);
        if (end < s.length && end > start + 1) {
            const c = s.charCodeAt(end - 1);
            if (c >= 0xd800 && c <= 0xdbff) end -= 1;
        }
        out.push(keyText(s.slice(start, end)));
        start = end;
    }
    return out;
}

// Keys pressed together, in order, and released in reverse order by the server.
export function keyCombo(codes) {
    const list = Array.from(codes, (c) => toWireInt(c) & 0xffff).filter((c) => c > 0);
    if (list.length === 0) throw new RangeError('a key combination needs at least one key');
    return make(Command.KEY_INPUT, { keycodes: list });
}

// The root listing is asked for with "/".
export function mediaExplore(path = '/') {
    return make(Command.MEDIA_EXPLORE, { path: String(path) === '' ? '/' : String(path) });
}

export function mediaOpen(path) {
    return make(Command.MEDIA_OPEN, { path: String(path) });
}

export function appExplore() {
    return make(Command.APP_EXPLORE, {});
}

// The launcher sends back the fields of the chosen "appexplore" entry.
export function appOpen({ path = '', workdir = '', args = '' } = {}) {
    return make(Command.APP_OPEN, { path: String(path), workdir: String(workdir), args: String(args) });
}

export function closeWindow() {
    return make(Command.CLOSE_WINDOW, {});
}

export function encode(command) {
    return JSON.stringify(command);
}

// Replies are untrusted text: anything that is not an object with a string
// "command" is dropped. A reply without an object "params" gets an empty one,
// as the server treats requests.
export const MAX_REPLY_CHARS = 8 * 1024 * 1024;

export function parseMessage(text) {
    if (typeof text !== 'string' || text.length === 0 || text.length > MAX_REPLY_CHARS) return null;
    let value;
    try {
        value = JSON.parse(text);
    } catch {
        return null;
    }
    if (value === null || typeof value !== 'object' || Array.isArray(value)) return null;
    if (typeof value.command !== 'string') return null;
    const params = value.params !== null && typeof value.params === 'object' && !Array.isArray(value.params) ? value.params : {};
    return { command: value.command, params };
}
