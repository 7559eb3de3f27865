// The user's own buttons: the "button…" messages, and the key names the user writes them
// with ("Ctrl+Shift+T", "Tab, Tab" with "Alt" held). No DOM here; buttons-view.js draws them.

import { VK } from './protocol.js';
import { keycodeForChar } from './keyboard.js';

export const BUTTON_LIST = 'buttonlist';
export const BUTTON_CHANGE = 'buttonchange';
export const BUTTON_PRESS = 'buttonpress';

// The PC's bounds, checked here too so that the user hears of a mistake before sending.
export const LIMITS = Object.freeze({ labelChars: 32, holdKeys: 4, steps: 16, stepKeys: 4, buttons: 64 });

const NAMED = [
    ['Ctrl', VK.CONTROL], ['Shift', VK.SHIFT], ['Alt', VK.MENU], ['Win', VK.LWIN],
    ['Esc', VK.ESCAPE], ['Tab', VK.TAB], ['Enter', VK.RETURN], ['Space', VK.SPACE],
    ['Backspace', VK.BACK], ['Del', VK.DELETE], ['Ins', VK.INSERT], ['Home', VK.HOME], ['End', VK.END],
    ['PgUp', VK.PRIOR], ['PgDn', VK.NEXT], ['Up', VK.UP], ['Down', VK.DOWN], ['Left', VK.LEFT],
    ['Right', VK.RIGHT], ['PrtSc', VK.SNAPSHOT], ['Menu', VK.APPS], ['Pause', VK.PAUSE],
    ['Plus', 0xbb], ['Comma', 0xbc],
];
// Other spellings people write.
const ALIASES = new Map([
    ['control', VK.CONTROL], ['option', VK.MENU], ['super', VK.LWIN], ['meta', VK.LWIN], ['cmd', VK.LWIN],
    ['escape', VK.ESCAPE], ['return', VK.RETURN], ['delete', VK.DELETE], ['insert', VK.INSERT],
    ['pageup', VK.PRIOR], ['pagedown', VK.NEXT], ['bksp', VK.BACK], ['printscreen', VK.SNAPSHOT],
]);
const BY_NAME = new Map([...NAMED.map(([name, vk]) => [name.toLowerCase(), vk]), ...ALIASES]);
const NAME_OF = new Map(NAMED.map(([name, vk]) => [vk, name]));

function codeOf(name) {
    const lower = name.toLowerCase();
    if (BY_NAME.has(lower)) return BY_NAME.get(lower);
    const f = /^f([1-9]|1[0-9]|2[0-4])$/.exec(lower);
    if (f) return VK.F1 + Number(f[1]) - 1;
    return name.length === 1 ? keycodeForChar(name) : null;
}

function nameOf(vk) {
    if (NAME_OF.has(vk)) return NAME_OF.get(vk);
    if (vk >= VK.F1 && vk < VK.F1 + 24) return `F${vk - VK.F1 + 1}`;
    if ((vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5a)) return String.fromCharCode(vk);
    for (const ch of ';=-./`[\\]\'') if (keycodeForChar(ch) === vk) return ch;
    return `#${vk}`;
}

// One combination, "Ctrl+Shift+T": its codes, or null. "#65" names a code directly.
function parseCombo(text) {
    const parts = text.split(/(?<!^|\+)\+/).map((p) => p.trim());
    if (parts.some((p) => p === '')) return null;
    const codes = [];
    for (const part of parts) {
        const direct = /^#(\d{1,3})$/.exec(part);
        const vk = direct ? Number(direct[1]) : codeOf(part);
        if (vk === null || vk < 1 || vk > 254 || codes.includes(vk)) return null;
        codes.push(vk);
    }
    return codes;
}

// The written keys as the PC stores them, { hold, steps }, or { error } naming what is wrong.
// `keys` is one combination or several separated by commas or spaces; `hold` is held throughout.
export function parseKeys(keys, hold = '') {
    const holdText = String(hold ?? '').trim();
    const holdCodes = holdText === '' ? [] : parseCombo(holdText);
    if (holdCodes === null) return { error: 'unknownKey' };
    if (holdCodes.length > LIMITS.holdKeys) return { error: 'tooManyKeys' };
    // "Ctrl + T" is one combination: blanks around a plus do not part steps.
    const words = String(keys ?? '').replace(/\s*\+\s*/g, '+').split(/[\s,]+/).filter(Boolean);
    if (words.length === 0) return { error: 'noKeys' };
    if (words.length > LIMITS.steps) return { error: 'tooManySteps' };
    const steps = [];
    for (const word of words) {
        const codes = parseCombo(word);
        if (codes === null) return { error: 'unknownKey' };
        if (codes.length > LIMITS.stepKeys || codes.some((c) => holdCodes.includes(c))) return { error: 'tooManyKeys' };
        steps.push(codes);
    }
    return { hold: holdCodes, steps };
}

// The written form of stored keys, the inverse of parseKeys.
export function formatKeys({ hold = [], steps = [] }) {
    return {
        keys: steps.map((step) => step.map(nameOf).join('+')).join(', '),
        hold: hold.map(nameOf).join('+'),
    };
}

// The label as the PC takes it, or null.
export function checkLabel(label) {
    const text = String(label ?? '').trim();
    const chars = Array.from(text);
    if (chars.length === 0 || chars.length > LIMITS.labelChars) return null;
    // eslint-disable-next-line no-control-regex
    if (/[\u0000-\u001f\u007f-\u009f\u2028\u2029]/.test(text)) return null;
    return text;
}

export function buttonList() {
    return { command: BUTTON_LIST, params: {} };
}

export function buttonAdd(label, { hold, steps }) {
    return { command: BUTTON_CHANGE, params: { action: 'add', button: { label, hold, steps } } };
}

export function buttonEdit(id, label, { hold, steps }) {
    return { command: BUTTON_CHANGE, params: { action: 'edit', button: { id, label, hold, steps } } };
}

export function buttonDelete(id) {
    return { command: BUTTON_CHANGE, params: { action: 'delete', id } };
}

export function buttonMove(id, to) {
    return { command: BUTTON_CHANGE, params: { action: 'move', id, to: Math.max(0, Math.trunc(to)) } };
}

export function buttonPress(id) {
    return { command: BUTTON_PRESS, params: { id } };
}

function codes(value, max) {
    return Array.isArray(value) && value.length <= max && value.every((c) => Number.isInteger(c) && c >= 1 && c <= 254);
}

// The list in a "buttonlist" or accepted "buttonchange"; untrusted, so entries that do not
// hold up are left out.
export function parseButtons(params) {
    const list = params !== null && typeof params === 'object' && Array.isArray(params.buttons) ? params.buttons : [];
    return list.slice(0, LIMITS.buttons).filter((b) => b !== null && typeof b === 'object'
        && Number.isInteger(b.id) && checkLabel(b.label) !== null && codes(b.hold, LIMITS.holdKeys)
        && Array.isArray(b.steps) && b.steps.length >= 1 && b.steps.length <= LIMITS.steps
        && b.steps.every((s) => s.length >= 1 && codes(s, LIMITS.stepKeys)))
        .map((b) => ({ id: b.id, label: b.label, hold: b.hold, steps: b.steps }));
}

// What the phone says for each refusal, its own and the PC's.
export const BUTTON_ERRORS = Object.freeze({
    badLabel: 'Give the button a name of 1 to 32 characters.',
    noKeys: 'Write the keys to press, for example Ctrl+Shift+T.',
    unknownKey: 'A key name is not known. Use names like Ctrl, Alt, Shift, Win, Tab, Enter, F5, A.',
    tooManyKeys: 'At most 4 keys at once, and a held key not again in a step.',
    tooManySteps: 'At most 16 steps.',
    badKeys: 'The PC did not take these keys.',
    tooMany: 'There are already 64 buttons.',
    unknown: 'That button is gone; the list has been reloaded.',
    storeFailed: 'The PC could not store the change.',
    badRequest: 'The PC did not understand the change.',
});

// A "buttonchange" answer: { ok, buttons, id } or { ok: false, error }.
export function parseChange(params) {
    const p = params !== null && typeof params === 'object' ? params : {};
    if (p.ok === true) return { ok: true, buttons: parseButtons(p), id: Number.isInteger(p.id) ? p.id : null };
    return { ok: false, error: Object.hasOwn(BUTTON_ERRORS, p.error) ? p.error : 'badRequest' };
}
