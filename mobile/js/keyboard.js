// Keyboard logic: what to send when the text field changes, which virtual-key
// codes a character or a special key stands for, and the modifier
// combinations offered as buttons.

import { t } from './i18n.js';
import { VK, keyCombo, keyTextChunks } from './protocol.js';

// Modifiers in the order they are pressed; the server releases in reverse.
export const MODIFIERS = Object.freeze([
    { id: 'ctrl', label: 'Ctrl', vk: VK.CONTROL },
    { id: 'shift', label: 'Shift', vk: VK.SHIFT },
    { id: 'alt', label: 'Alt', vk: VK.MENU },
    { id: 'win', label: 'Win', vk: VK.LWIN },
]);

export const SPECIAL_KEYS = Object.freeze([
    { id: 'esc', label: 'Esc', vk: VK.ESCAPE },
    { id: 'tab', label: 'Tab', vk: VK.TAB },
    { id: 'back', label: '⌫', title: 'Backspace', vk: VK.BACK },
    { id: 'del', label: 'Del', vk: VK.DELETE },
    { id: 'enter', label: 'Enter', vk: VK.RETURN },
    { id: 'home', label: 'Home', vk: VK.HOME },
    { id: 'end', label: 'End', vk: VK.END },
    { id: 'pgup', label: 'PgUp', vk: VK.PRIOR },
    { id: 'pgdn', label: 'PgDn', vk: VK.NEXT },
    { id: 'prtsc', label: 'PrtSc', vk: VK.SNAPSHOT },
]);

// Laid out as an inverted T, three to a row.
export const ARROW_KEYS = Object.freeze([
    { id: 'ins', label: 'Ins', vk: VK.INSERT },
    { id: 'up', label: '↑', title: 'Up arrow', vk: VK.UP },
    { id: 'menu', label: 'Menu', vk: VK.APPS },
    { id: 'left', label: '←', title: 'Left arrow', vk: VK.LEFT },
    { id: 'down', label: '↓', title: 'Down arrow', vk: VK.DOWN },
    { id: 'right', label: '→', title: 'Right arrow', vk: VK.RIGHT },
]);

export const FUNCTION_KEYS = Object.freeze(
    Array.from({ length: 12 }, (_, i) => ({ id: `f${i + 1}`, label: `F${i + 1}`, vk: VK.F1 + i })),
);

export const COMBOS = Object.freeze([
    { id: 'copy', label: 'Copy', hint: 'Ctrl+C', codes: [VK.CONTROL, 0x43] },
    { id: 'paste', label: 'Paste', hint: 'Ctrl+V', codes: [VK.CONTROL, 0x56] },
    { id: 'cut', label: 'Cut', hint: 'Ctrl+X', codes: [VK.CONTROL, 0x58] },
    { id: 'undo', label: 'Undo', hint: 'Ctrl+Z', codes: [VK.CONTROL, 0x5a] },
    { id: 'all', label: 'Select all', hint: 'Ctrl+A', codes: [VK.CONTROL, 0x41] },
    { id: 'save', label: 'Save', hint: 'Ctrl+S', codes: [VK.CONTROL, 0x53] },
    { id: 'switch', label: 'Switch', hint: 'Alt+Tab', codes: [VK.MENU, VK.TAB] },
    { id: 'start', label: 'Start', hint: 'Win', codes: [VK.LWIN] },
    { id: 'desktop', label: 'Desktop', hint: 'Win+D', codes: [VK.LWIN, 0x44] },
    { id: 'find', label: 'Find', hint: 'Ctrl+F', codes: [VK.CONTROL, 0x46] },
    { id: 'newtab', label: 'New tab', hint: 'Ctrl+T', codes: [VK.CONTROL, 0x54] },
    { id: 'closetab', label: 'Close tab', hint: 'Ctrl+W', codes: [VK.CONTROL, 0x57] },
]);

export const MEDIA_KEYS = Object.freeze([
    { id: 'prev', label: 'Previous', vk: VK.MEDIA_PREV_TRACK },
    { id: 'playpause', label: 'Play / pause', vk: VK.MEDIA_PLAY_PAUSE },
    { id: 'next', label: 'Next', vk: VK.MEDIA_NEXT_TRACK },
    { id: 'voldown', label: 'Volume down', vk: VK.VOLUME_DOWN },
    { id: 'mute', label: 'Mute', vk: VK.VOLUME_MUTE },
    { id: 'volup', label: 'Volume up', vk: VK.VOLUME_UP },
]);

// Punctuation on the US layout, which is what virtual-key codes describe.
const OEM_KEYS = new Map([
    [';', 0xba], [':', 0xba], ['=', 0xbb], ['+', 0xbb], [',', 0xbc], ['<', 0xbc],
    ['-', 0xbd], ['_', 0xbd], ['.', 0xbe], ['>', 0xbe], ['/', 0xbf], ['?', 0xbf],
    ['`', 0xc0], ['~', 0xc0], ['[', 0xdb], ['{', 0xdb], ['\\', 0xdc], ['|', 0xdc],
    [']', 0xdd], ['}', 0xdd], ["'", 0xde], ['"', 0xde],
]);

// The key that produces `ch` on a US keyboard, for use under modifiers
// (Ctrl+c and Ctrl+C are the same key). Null when there is none.
export function keycodeForChar(ch) {
    if (typeof ch !== 'string' || ch.length !== 1) return null;
    const upper = ch.toUpperCase();
    if (upper >= 'A' && upper <= 'Z' && upper.length === 1) return upper.charCodeAt(0);
    if (ch >= '0' && ch <= '9') return ch.charCodeAt(0);
    if (ch === ' ') return VK.SPACE;
    if (ch === '\t') return VK.TAB;
    if (ch === '\n' || ch === '\r') return VK.RETURN;
    return OEM_KEYS.get(ch) ?? null;
}

export function comboCodes(modifierIds, vk) {
    const mods = MODIFIERS.filter((m) => modifierIds.has(m.id)).map((m) => m.vk);
    return [...mods, vk];
}

// How the field's text changed, in whole characters (code points) so an
// emoji is one backspace: what to delete from the end, then what to type.
// Editing in the middle cannot be mirrored by typing at the PC's caret, so the
// change is taken from the first differing character to the end.
export function diffText(before, after) {
    const a = Array.from(String(before ?? ''));
    const b = Array.from(String(after ?? ''));
    let common = 0;
    while (common < a.length && common < b.length && a[common] === b[common]) common += 1;
    return { backspaces: a.length - common, text: b.slice(common).join('') };
}

// Commands for a change of the text field. Line breaks become Enter presses
// instead of being typed as U+000A, which most programs ignore.
export function typingCommands(before, after) {
    const { backspaces, text } = diffText(before, after);
    const out = [];
    // One message per Backspace: a combination with the same key twice would
    // press it twice before releasing it.
    for (let i = 0; i < backspaces; i += 1) out.push(keyCombo([VK.BACK]));
    const lines = text.replace(/\r\n?/g, '\n').split('\n');
    lines.forEach((line, i) => {
        if (i > 0) out.push(keyCombo([VK.RETURN]));
        if (line !== '') out.push(...keyTextChunks(line));
    });
    return out;
}

// A character typed while modifiers are latched is a shortcut, not text.
export function shortcutCommand(modifierIds, ch) {
    const vk = keycodeForChar(ch);
    return vk === null ? null : keyCombo(comboCodes(modifierIds, vk));
}

// How many characters of a typed text the PC's answer says did not arrive (its keyboard
// layout lacks them and it could not paste them either); 0 for anything else. The PC answers
// a text only when some were left out.
export function untypedCount(params) {
    const count = params?.untyped;
    return Number.isInteger(count) && count > 0 ? count : 0;
}

// The note shown beside the text field for `count` characters left out, saying why.
export function untypedNote(count, reason) {
    if (reason === 'pasteOff') {
        return t('{count} characters did not reach the PC: its keyboard layout lacks them, and pasting them is off in Velmora\'s settings on the PC.', { count });
    }
    return t('{count} characters did not reach the PC: its keyboard layout lacks them, and its clipboard could not take them.', { count });
}
