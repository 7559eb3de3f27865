// The PC volume and clipboard messages: what the PC accepts, and hostile answers.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
    CLIPBOARD_MAX_BYTES, CLIPBOARD_PART_UNITS, clipboardSetMessages, parseClipboardReply, parseVolumeStatus, volumeSet,
} from '../../mobile/js/desk.js';

test('a long text goes in numbered parts that join up exactly, up to 1 MiB', () => {
    const text = 'a'.repeat(CLIPBOARD_PART_UNITS - 1) + '😀' + 'é'.repeat(10);
    const messages = clipboardSetMessages(text);
    assert.equal(messages.length, 2);
    assert.deepEqual(messages.map((m) => [m.params.part, m.params.more]), [[0, true], [1, undefined]]);
    assert.equal(messages[0].params.text.length, CLIPBOARD_PART_UNITS - 1, 'a surrogate pair is never split');
    assert.equal(messages.map((m) => m.params.text).join(''), text);
    assert.deepEqual(clipboardSetMessages(''), [{ command: 'clipboardset', params: { text: '', part: 0 } }]);
    // Counted in UTF-8 bytes, as the PC counts.
    assert.notEqual(clipboardSetMessages('é'.repeat(CLIPBOARD_MAX_BYTES / 2)), null);
    assert.equal(clipboardSetMessages('é'.repeat(CLIPBOARD_MAX_BYTES / 2) + 'x'), null);
});

test('volume values the PC accepts; answers checked field by field', () => {
    assert.deepEqual([volumeSet(-3), volumeSet(40.4), volumeSet('100'), volumeSet(250)].map((m) => m.params.volume), [0, 40, 100, 100]);
    assert.throws(() => volumeSet('loud'), RangeError);
    assert.deepEqual(parseVolumeStatus({ server: true, available: true, volume: 150, muted: true }),
        { server: true, available: true, volume: 100, muted: true });
    assert.deepEqual(parseVolumeStatus({ server: true, available: true, volume: '50' }),
        { server: true, available: false, volume: 0, muted: false });
    assert.deepEqual(parseVolumeStatus(null), { server: false, available: false, volume: 0, muted: false });
    assert.deepEqual(parseClipboardReply({ ok: false, error: 'toString' }), { ok: false, error: 'unavailable' });
    assert.equal(parseClipboardReply({ ok: true, text: 5, takenAt: 'now' }).text, '');
});
