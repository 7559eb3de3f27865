// The user's own buttons on the phone: the key names they are written with, the bounds the PC
// also holds, and the PC's answers taken as untrusted.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import {
    LIMITS, buttonMove, checkLabel, formatKeys, parseButtons, parseChange, parseKeys,
} from '../../mobile/js/buttons.js';

describe('written keys', () => {
    const cases = [
        ['Ctrl+Shift+T', '', { hold: [], steps: [[0x11, 0x10, 0x54]] }],
        ['ctrl + shift + t', '', { hold: [], steps: [[0x11, 0x10, 0x54]] }],
        ['Tab, Tab', 'Alt', { hold: [0x12], steps: [[0x09], [0x09]] }],
        ['Alt+F4', '', { hold: [], steps: [[0x12, 0x73]] }],
        ['Ctrl++', '', { hold: [], steps: [[0x11, 0xbb]] }],
        ['Right Right Down', '', { hold: [], steps: [[0x27], [0x27], [0x28]] }],
        ['Win+#200', '', { hold: [], steps: [[0x5b, 200]] }],
        ['F24 PageDown escape', '', { hold: [], steps: [[0x87], [0x22], [0x1b]] }],
    ];
    for (const [keys, hold, expected] of cases) {
        test(`${keys} / ${hold || '-'}`, () => {
            assert.deepEqual(parseKeys(keys, hold), expected);
            assert.deepEqual(parseKeys(formatKeys(expected).keys, formatKeys(expected).hold), expected);
        });
    }

    const refused = [
        ['', '', 'noKeys'],
        [' , ', '', 'noKeys'],
        ['Ctrl+Banana', '', 'unknownKey'],
        ['F25', '', 'unknownKey'],
        ['#0', '', 'unknownKey'],
        ['#255', '', 'unknownKey'],
        ['A+A', '', 'unknownKey'],
        ['Ctrl+', '', 'unknownKey'],
        ['Tab', 'Nope', 'unknownKey'],
        ['Ctrl+Alt+Shift+Win+A', '', 'tooManyKeys'],
        ['Alt+Tab', 'Alt', 'tooManyKeys'],
        ['Tab', 'Ctrl+Alt+Shift+Win+Menu', 'tooManyKeys'],
        [Array(LIMITS.steps + 1).fill('Tab').join(' '), '', 'tooManySteps'],
    ];
    for (const [keys, hold, error] of refused) {
        test(`refused: ${keys.slice(0, 20)} / ${hold || '-'} → ${error}`, () => assert.deepEqual(parseKeys(keys, hold), { error }));
    }
});

test('labels keep to the PC\'s bounds', () => {
    assert.equal(checkLabel('  Close tab '), 'Close tab');
    assert.equal(checkLabel('🪟'.repeat(32)), '🪟'.repeat(32));
    for (const bad of ['', '   ', 'x'.repeat(33), 'a\nb', 'a\u0085', null, undefined]) assert.equal(checkLabel(bad), null);
});

test('moves never ask for a position before the first', () => {
    assert.deepEqual(buttonMove(3, -1).params, { action: 'move', id: 3, to: 0 });
    assert.deepEqual(buttonMove(3, 2.7).params, { action: 'move', id: 3, to: 2 });
});

test('the PC\'s lists and answers are checked', () => {
    const good = { id: 1, label: 'Tabs', hold: [18], steps: [[9], [9]] };
    const list = parseButtons({
        buttons: [good, { ...good, id: '2' }, { ...good, label: '' }, { ...good, steps: [] }, { ...good, hold: [300] },
            { ...good, steps: [[1, 2, 3, 4, 5]] }, null, 7, { ...good, id: 9, extra: 'x' }],
    });
    assert.deepEqual(list, [good, { ...good, id: 9 }]);
    assert.deepEqual(parseButtons(null), []);
    assert.deepEqual(parseButtons({ buttons: 'x' }), []);
    assert.equal(parseButtons({ buttons: Array(100).fill(good) }).length, LIMITS.buttons);
    assert.deepEqual(parseChange({ ok: true, id: 4, buttons: [good] }), { ok: true, id: 4, buttons: [good] });
    assert.deepEqual(parseChange({ ok: false, error: 'tooMany' }), { ok: false, error: 'tooMany' });
    assert.deepEqual(parseChange({ ok: false, error: 'toString' }), { ok: false, error: 'badRequest' });
    assert.deepEqual(parseChange('nonsense'), { ok: false, error: 'badRequest' });
});

test('power requests name only the five actions, and the PC\'s answers are checked', async () => {
    const { parsePowerReply, parsePowerStatus, powerAction } = await import('../../mobile/js/power.js');
    assert.deepEqual(powerAction('suspend'), { command: 'power', params: { action: 'suspend' } });
    assert.throws(() => powerAction('hibernate'), RangeError);
    assert.equal(parsePowerStatus({ allowed: true }), true);
    for (const off of [{ allowed: 'true' }, { allowed: 1 }, {}, null, 'x']) assert.equal(parsePowerStatus(off), false);
    assert.deepEqual(parsePowerReply({ ok: true, action: 'lock' }), { ok: true, action: 'lock' });
    assert.deepEqual(parsePowerReply({ ok: false, action: 'reboot', error: 'off' }), { ok: false, action: 'reboot', error: 'off' });
    assert.deepEqual(parsePowerReply({ ok: false, action: '<b>', error: '__proto__' }), { ok: false, action: null, error: 'refused' });
});

test('the presenter sends single keys and keeps the time of the talk', async () => {
    const { TalkClock, formatElapsed, presentCommand } = await import('../../mobile/js/present.js');
    const codes = (what) => presentCommand(what).params.keycodes;
    assert.deepEqual(['next', 'previous', 'start', 'end', 'black'].map(codes), [[0x22], [0x21], [0x74], [0x1b], [0x42]]);
    assert.throws(() => presentCommand('toString'), RangeError);
    assert.deepEqual([0, 999, 61000, 3599000, 3600000, 3725000, -5].map(formatElapsed),
        ['0:00', '0:00', '1:01', '59:59', '1:00:00', '1:02:05', '0:00']);
    let now = 1000;
    const clock = new TalkClock(() => now);
    clock.press('black');
    assert.equal(clock.elapsed(), 0);
    clock.press('next'); // the show was already running: the first slide change starts the clock
    now += 5000;
    clock.press('next');
    assert.equal(clock.elapsed(), 5000);
    clock.press('end');
    now += 9000;
    assert.equal(clock.elapsed(), 5000);
    assert.equal(clock.running, false);
    clock.press('start');
    now += 2000;
    assert.equal(clock.elapsed(), 2000);
});
