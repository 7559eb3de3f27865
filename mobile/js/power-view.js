// The "This PC" group of the Apps tab: lock, sleep, restart, shut down and log out, each
// asked again on the phone first. Hidden while the PC's setting does not allow them.

import {
    POWER_ACTIONS, POWER_ERRORS, parsePowerReply, parsePowerStatus, powerAction, powerStatus,
} from './power.js';
import { node } from './dom.js';

export const POWER_TEXT = Object.freeze({
    title: 'This PC',
    off: POWER_ERRORS.off,
    confirm: 'Yes',
    cancel: 'Cancel',
    done: 'Done',
    notConnected: 'Not connected',
    ...Object.fromEntries(POWER_ACTIONS.flatMap((a) => [[a.label, a.label], [a.question, a.question]])),
    ...POWER_ERRORS,
});


export function createPowerPanel({ parent, before = null, send, toast = () => {}, text = POWER_TEXT }) {
    const group = node('section', 'key-group power', { id: 'power', 'aria-labelledby': 'power-title' });
    const title = node('h2', '', { id: 'power-title' }, text.title);
    const note = node('p', 'power-note', { id: 'power-note' }, text.off);
    const grid = node('div', 'power-grid', { id: 'power-grid' });
    const ask = node('div', 'power-ask', { id: 'power-ask', role: 'alertdialog', 'aria-labelledby': 'power-question' });
    const question = node('p', '', { id: 'power-question' });
    const yes = node('button', 'btn danger', { id: 'power-yes', type: 'button' }, text.confirm);
    const no = node('button', 'btn', { id: 'power-no', type: 'button' }, text.cancel);
    const answers = node('div', 'power-answers');
    answers.append(yes, no);
    ask.append(question, answers);
    ask.hidden = true;
    group.append(title, note, grid, ask);
    parent.insertBefore(group, before);

    let asked = null;
    for (const action of POWER_ACTIONS) {
        const b = node('button', 'btn power-btn', { type: 'button', 'data-action': action.id }, text[action.label]);
        b.addEventListener('click', () => {
            asked = action.id;
            question.textContent = text[action.question];
            ask.hidden = false;
            no.focus();
        });
        grid.appendChild(b);
    }
    const close = () => {
        asked = null;
        ask.hidden = true;
    };
    no.addEventListener('click', close);
    yes.addEventListener('click', () => {
        if (asked && !send(powerAction(asked))) toast(text.notConnected);
        close();
    });

    function show(allowed) {
        grid.hidden = !allowed;
        note.hidden = allowed;
        if (!allowed) close();
    }
    show(false);

    return {
        requestStatus() {
            send(powerStatus());
        },
        handleStatus(params) {
            show(parsePowerStatus(params));
        },
        handleReply(params) {
            const reply = parsePowerReply(params);
            if (reply.ok) {
                toast(text.done);
                return;
            }
            if (reply.error === 'off') show(false);
            toast(text[reply.error]);
        },
    };
}
