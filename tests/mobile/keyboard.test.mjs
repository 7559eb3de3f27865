import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { comboCodes, diffText, keycodeForChar, shortcutCommand, typingCommands } from '../../mobile/js/keyboard.js';

const summary = (cmds) => cmds.map((c) => (c.params.text !== undefined ? `text:${c.params.text}` : `keys:${c.params.keycodes.join('+')}`));

describe('typing into the text field', () => {
    test('appending types, deleting backspaces, autocorrect replaces a word', () => {
        assert.deepEqual(diffText('hel', 'hello'), { backspaces: 0, text: 'lo' });
        assert.deepEqual(diffText('hello', 'hel'), { backspaces: 2, text: '' });
        assert.deepEqual(diffText('teh ', 'the '), { backspaces: 3, text: 'he ' });
        assert.deepEqual(diffText('same', 'same'), { backspaces: 0, text: '' });
    });

    test('an emoji is one character to delete', () => {
        assert.deepEqual(diffText('a😀', 'a'), { backspaces: 1, text: '' });
        assert.deepEqual(diffText('a😀', 'a😁'), { backspaces: 1, text: '😁' });
    });

    test('backspaces go one per message, then the text; line breaks become Enter', () => {
        assert.deepEqual(summary(typingCommands('abc', 'aXY')), ['keys:8', 'keys:8', 'text:XY']);
        assert.deepEqual(summary(typingCommands('', 'one\r\ntwo\n')), ['text:one', 'keys:13', 'text:two', 'keys:13']);
        assert.deepEqual(typingCommands('x', 'x'), []);
    });
});

describe('keys and shortcuts', () => {
    test('characters map to US-layout virtual keys', () => {
        const cases = [['a', 0x41], ['Z', 0x5a], ['7', 0x37], [' ', 0x20], ['/', 0xbf], ['?', 0xbf], ['[', 0xdb], ["'", 0xde]];
        for (const [ch, vk] of cases) assert.equal(keycodeForChar(ch), vk, ch);
        for (const none of ['é', 'ß', '😀', '', 'ab']) assert.equal(keycodeForChar(none), null, none);
    });

    test('modifiers come first in a fixed order whatever order they were latched in', () => {
        assert.deepEqual(comboCodes(new Set(['alt', 'ctrl']), 0x2e), [0x11, 0x12, 0x2e]);
        assert.deepEqual(comboCodes(new Set(), 0x5b), [0x5b]);
        assert.deepEqual(shortcutCommand(new Set(['ctrl']), 'c'), { command: 'keyinput', params: { keycodes: [0x11, 0x43] } });
        assert.deepEqual(shortcutCommand(new Set(['win', 'shift']), 's').params.keycodes, [0x10, 0x5b, 0x53]);
        assert.equal(shortcutCommand(new Set(['ctrl']), 'é'), null);
    });
});
