// The "My buttons" group of the Keys tab: the user's buttons in their order, and the form
// that makes, edits, moves and deletes them. Builds its own elements; app.js places it and
// feeds it the "button…" messages.

import {
    BUTTON_ERRORS, buttonAdd, buttonDelete, buttonEdit, buttonList, buttonMove, buttonPress, checkLabel,
    formatKeys, parseButtons, parseChange, parseKeys, LIMITS,
} from './buttons.js';
import { node } from './dom.js';

// Every visible text, in one place for the translations.
export const BUTTONS_TEXT = Object.freeze({
    title: 'My buttons',
    edit: 'Edit',
    done: 'Done',
    add: 'Add button',
    empty: 'Make buttons for the shortcuts you use every day.',
    label: 'Name',
    keys: 'Keys',
    keysHint: 'For example Ctrl+Shift+T, or Tab, Tab',
    hold: 'Held throughout (optional)',
    holdHint: 'For example Alt',
    save: 'Save',
    cancel: 'Cancel',
    remove: 'Delete',
    moveUp: 'Move {name} up',
    moveDown: 'Move {name} down',
    editButton: 'Edit {name}',
    notConnected: 'Not connected',
    ...BUTTON_ERRORS,
});


function fill(template, name) {
    return template.replace('{name}', name);
}

// `send(command)` sends one command object and tells whether it went out.
export function createUserButtons({ parent, before = null, send, toast = () => {}, text = BUTTONS_TEXT }) {
    const group = node('section', 'key-group user-buttons', { id: 'user-buttons', 'aria-labelledby': 'ub-title' });
    const head = node('h2', 'ub-head');
    const title = node('span', '', { id: 'ub-title' }, text.title);
    const editToggle = node('button', 'link-btn', { id: 'ub-edit', type: 'button', 'aria-pressed': 'false' }, text.edit);
    head.append(title, editToggle);
    const grid = node('div', 'combo-grid ub-grid', { id: 'ub-grid' });
    const empty = node('p', 'ub-empty', { id: 'ub-empty' }, text.empty);
    const add = node('button', 'btn wide', { id: 'ub-add', type: 'button' }, text.add);

    const form = node('form', 'ub-form', { id: 'ub-form', autocomplete: 'off' });
    form.hidden = true;
    const field = (id, label, hint, max) => {
        const wrap = node('label', 'field');
        const input = node('input', 'ub-input', {
            id, type: 'text', placeholder: hint, maxlength: String(max), autocapitalize: 'off', autocorrect: 'off', spellcheck: 'false',
        });
        wrap.append(node('span', '', {}, label), input);
        form.appendChild(wrap);
        return input;
    };
    const labelInput = field('ub-label', text.label, '', 64);
    const keysInput = field('ub-keys', text.keys, text.keysHint, 200);
    const holdInput = field('ub-hold', text.hold, text.holdHint, 60);
    const error = node('p', 'ub-error', { id: 'ub-error', role: 'alert' });
    const actions = node('div', 'ub-actions');
    const save = node('button', 'btn primary', { id: 'ub-save', type: 'submit' }, text.save);
    const cancel = node('button', 'btn', { id: 'ub-cancel', type: 'button' }, text.cancel);
    const remove = node('button', 'btn danger', { id: 'ub-delete', type: 'button' }, text.remove);
    actions.append(save, cancel, remove);
    form.append(error, actions);
    group.append(head, grid, empty, add, form);
    parent.insertBefore(group, before);

    let buttons = [];
    let editing = false;
    let editedId = null; // the button in the form; null for a new one

    function render() {
        grid.replaceChildren();
        buttons.forEach((b, index) => {
            if (!editing) {
                const key = node('button', 'key combo ub-key', { type: 'button', 'data-id': String(b.id) });
                key.append(node('span', '', {}, b.label), node('small', '', {}, formatKeys(b).keys));
                key.addEventListener('click', () => {
                    if (!send(buttonPress(b.id))) toast(text.notConnected);
                });
                grid.appendChild(key);
                return;
            }
            const row = node('div', 'ub-row', { 'data-id': String(b.id) });
            const open = node('button', 'key ub-open', { type: 'button', 'aria-label': fill(text.editButton, b.label) }, b.label);
            open.addEventListener('click', () => openForm(b));
            const up = node('button', 'key ub-move', { type: 'button', 'aria-label': fill(text.moveUp, b.label) }, '↑');
            up.disabled = index === 0;
            up.addEventListener('click', () => change(buttonMove(b.id, index - 1)));
            const down = node('button', 'key ub-move', { type: 'button', 'aria-label': fill(text.moveDown, b.label) }, '↓');
            down.disabled = index === buttons.length - 1;
            down.addEventListener('click', () => change(buttonMove(b.id, index + 1)));
            row.append(open, up, down);
            grid.appendChild(row);
        });
        grid.classList.toggle('editing', editing);
        empty.hidden = buttons.length > 0;
        add.hidden = buttons.length >= LIMITS.buttons;
    }

    function change(command) {
        if (!send(command)) {
            toast(text.notConnected);
            return false;
        }
        return true;
    }

    function openForm(button) {
        editedId = button ? button.id : null;
        const written = button ? formatKeys(button) : { keys: '', hold: '' };
        labelInput.value = button ? button.label : '';
        keysInput.value = written.keys;
        holdInput.value = written.hold;
        error.textContent = '';
        remove.hidden = !button;
        form.hidden = false;
        add.hidden = true;
        labelInput.focus();
    }

    function closeForm() {
        form.hidden = true;
        editedId = null;
        error.textContent = '';
        render();
    }

    editToggle.addEventListener('click', () => {
        editing = !editing;
        editToggle.textContent = editing ? text.done : text.edit;
        editToggle.setAttribute('aria-pressed', String(editing));
        if (!editing) closeForm();
        render();
    });
    add.addEventListener('click', () => openForm(null));
    cancel.addEventListener('click', closeForm);
    remove.addEventListener('click', () => {
        if (editedId !== null) change(buttonDelete(editedId));
    });
    form.addEventListener('submit', (event) => {
        event.preventDefault();
        const label = checkLabel(labelInput.value);
        if (label === null) {
            error.textContent = text.badLabel;
            return;
        }
        const keys = parseKeys(keysInput.value, holdInput.value);
        if (keys.error) {
            error.textContent = text[keys.error];
            return;
        }
        change(editedId === null ? buttonAdd(label, keys) : buttonEdit(editedId, label, keys));
    });

    render();
    return {
        element: group,
        requestList() {
            send(buttonList());
        },
        handleList(params) {
            buttons = parseButtons(params);
            render();
        },
        handleChange(params) {
            const answer = parseChange(params);
            if (answer.ok) {
                buttons = answer.buttons;
                if (!form.hidden) closeForm();
                else render();
                return;
            }
            if (answer.error === 'unknown') send(buttonList());
            if (form.hidden) toast(text[answer.error]);
            else error.textContent = text[answer.error];
        },
        get buttons() {
            return buttons;
        },
    };
}
