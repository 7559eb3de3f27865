// The Keys tab: modifiers that latch, the special, arrow and function keys, combinations, the
// type field mirrored to the PC, the clipboard panel and the user's own buttons.

import { BUTTON_CHANGE, BUTTON_LIST } from './buttons.js';
import { BUTTONS_TEXT, createUserButtons } from './buttons-view.js';
import { CLIPBOARD_GET, CLIPBOARD_SET } from './desk.js';
import { DESK_TEXT, createClipboardPanel } from './desk-view.js';
import { t } from './i18n.js';
import {
    ARROW_KEYS, COMBOS, FUNCTION_KEYS, MODIFIERS, SPECIAL_KEYS,
    comboCodes, diffText, shortcutCommand, typingCommands, untypedCount, untypedNote,
} from './keyboard.js';
import { Command, VK, keyCombo } from './protocol.js';
import { $, el, replyHandler, translated } from './page.js';

export function createKeys({ connection, send, sendAll, toast }) {
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

    const clipboard = createClipboardPanel({ parent: $('view-keys'), before: $('view-keys').querySelector('.key-group'), send, toast, text: translated(DESK_TEXT) });
    const userButtons = createUserButtons({ parent: $('view-keys'), before: $('combo-keys').parentElement, send, toast, text: translated(BUTTONS_TEXT) });

    return {
        handle: replyHandler([
            [CLIPBOARD_SET, (params) => clipboard.handleSet(params)],
            [CLIPBOARD_GET, (params) => clipboard.handleGet(params)],
            [BUTTON_LIST, (params) => userButtons.handleList(params)],
            [BUTTON_CHANGE, (params) => userButtons.handleChange(params)],
            [Command.KEY_INPUT, showUntyped],
        ]),
        // The link is (back) up.
        connected() {
            userButtons.requestList();
        },
    };
}
