// The PC's power and session: the "powerstatus" and "power" messages. No DOM here;
// power-view.js draws them.

export const POWER_STATUS = 'powerstatus';
export const POWER = 'power';

// In the order the buttons are shown; `question` is asked on the phone before each.
export const POWER_ACTIONS = Object.freeze([
    { id: 'lock', label: 'Lock', question: 'Lock the PC?' },
    { id: 'suspend', label: 'Sleep', question: 'Put the PC to sleep?' },
    { id: 'reboot', label: 'Restart', question: 'Restart the PC? Unsaved work may be lost.' },
    { id: 'poweroff', label: 'Shut down', question: 'Shut down the PC? Unsaved work may be lost.' },
    { id: 'logout', label: 'Log out', question: 'Log out of the PC? Unsaved work may be lost.' },
]);

export function powerStatus() {
    return { command: POWER_STATUS, params: {} };
}

export function powerAction(id) {
    if (!POWER_ACTIONS.some((a) => a.id === id)) throw new RangeError(`no power action ${id}`);
    return { command: POWER, params: { action: id } };
}

export const POWER_ERRORS = Object.freeze({
    off: "Locking, sleeping and shutting down from the phone are switched off in Velmora's settings on the PC.",
    refused: 'The PC refused.',
    unavailable: 'Nothing on the PC can do this.',
    badRequest: 'The PC did not understand the request.',
});

// A "powerstatus" answer: whether the buttons are shown.
export function parsePowerStatus(params) {
    return params !== null && typeof params === 'object' && params.allowed === true;
}

// A "power" answer: { ok, action } or { ok: false, action, error }.
export function parsePowerReply(params) {
    const p = params !== null && typeof params === 'object' ? params : {};
    const action = POWER_ACTIONS.find((a) => a.id === p.action)?.id ?? null;
    if (p.ok === true) return { ok: true, action };
    return { ok: false, action, error: Object.hasOwn(POWER_ERRORS, p.error) ? p.error : 'refused' };
}
