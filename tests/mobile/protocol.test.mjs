import assert from 'node:assert/strict';
import { test } from 'node:test';

import { shortcutCommand, typingCommands, untypedCount, untypedNote } from '../../mobile/js/keyboard.js';
import * as p from '../../mobile/js/protocol.js';

test('every command builder produces exactly the wire shape', () => {
    const cases = [
        [p.mouseMove(3, -4), 'mousemove', { dx: 3, dy: -4 }],
        [p.mouseClick('right', { timestamp: 1700000000123 }), 'mouseclick', { button: 'right', double: false, timestamp: 1700000000123 }],
        [p.mouseClick('left', { double: true, timestamp: 5 }), 'mouseclick', { button: 'left', double: true, timestamp: 5 }],
        [p.mouseDown('left'), 'mousedown', { button: 'left' }],
        [p.mouseUp('middle'), 'mouseup', { button: 'middle' }],
        [p.mouseWheel(-3), 'mousewheel', { amount: -3 }],
        [p.mouseWheelFine(-30.7), 'mousewheel', { fine: -30 }],
        [p.mouseWheelFine(1e9, true), 'mousewheel', { fine: 12000, end: true }],
        [p.keyText('héllo'), 'keyinput', { text: 'héllo' }],
        [p.keyCombo([p.VK.CONTROL, 0x43]), 'keyinput', { keycodes: [17, 67] }],
        [p.mediaExplore(''), 'mediaexplore', { path: '/' }],
        [p.mediaExplore('D:/Music'), 'mediaexplore', { path: 'D:/Music' }],
        [p.mediaOpen('D:/Music/a.mp3'), 'mediaopen', { path: 'D:/Music/a.mp3' }],
        [p.appExplore(), 'appexplore', {}],
        [p.appOpen({ name: 'E', path: 'C:/e', workdir: 'C:/', args: '-n' }), 'appopen', { path: 'C:/e', workdir: 'C:/', args: '-n' }],
        [p.appOpen({ path: 'C:/e.exe' }), 'appopen', { path: 'C:/e.exe', workdir: '', args: '' }],
        [p.closeWindow(), 'closewindow', {}],
        // The server reads numbers strictly: a fraction or an out-of-range value would count as 0.
        [p.mouseMove(1.9, -2.7), 'mousemove', { dx: 1, dy: -2 }],
        [p.mouseMove(NaN, 1e12), 'mousemove', { dx: 0, dy: 2147483647 }],
        [p.mouseClick('right', { double: true, timestamp: 12.9 }), 'mouseclick', { button: 'right', double: false, timestamp: 12 }],
        [p.mouseClick('left', { double: 'yes', timestamp: 1 }), 'mouseclick', { button: 'left', double: false, timestamp: 1 }],
        [p.keyCombo([0x12, 0, 0x73]), 'keyinput', { keycodes: [18, 115] }],
    ];
    for (const [actual, command, params] of cases) assert.deepEqual(actual, { command, params });
    assert.equal(p.encode(p.mouseWheel(1)), '{"command":"mousewheel","params":{"amount":1}}');
    assert.ok(Object.is(p.mouseMove(-0.5, 0).params.dx, 0));
    for (const bad of [() => p.mouseClick('Left'), () => p.mouseDown('back'), () => p.keyCombo([])]) assert.throws(bad, RangeError);
});

test('typing: long text splits without breaking surrogate pairs, edits become backspaces, line breaks Enter', () => {
    const text = `a${'😀'.repeat(150)}z`;
    const chunks = p.keyTextChunks(text, 9).map((c) => c.params.text);
    assert.equal(chunks.join(''), text);
    assert.ok(chunks.every((c) => c.length <= 9 && !/[\ud800-\udbff]$/.test(c)));

    const summary = (cmds) => cmds.map((c) => c.params.text ?? c.params.keycodes.join('+'));
    assert.deepEqual(summary(typingCommands('teh 😀', 'the ')), ['8', '8', '8', '8', 'he ']); // an emoji is one backspace
    assert.deepEqual(summary(typingCommands('', 'one\r\ntwo\n')), ['one', '13', 'two', '13']);
    assert.deepEqual(typingCommands('x', 'x'), []);
    // Shortcuts press modifiers first in a fixed order, whatever order they were latched in.
    assert.deepEqual(shortcutCommand(new Set(['win', 'alt', 'ctrl']), '/').params.keycodes, [0x11, 0x12, 0x5b, 0xbf]);
    assert.equal(shortcutCommand(new Set(['ctrl']), 'é'), null);
});

test('only replies that are objects with a string command are accepted', () => {
    assert.deepEqual(p.parseMessage('{"command":"appexplore","params":{"apps":[]}}'), { command: 'appexplore', params: { apps: [] } });
    assert.deepEqual(p.parseMessage('{"command":"x","params":[1]}'), { command: 'x', params: {} });
    for (const bad of ['', 'nope', '[]', '5', 'null', '{"command":5}', '{"params":{}}', null, ' '.repeat(p.MAX_REPLY_CHARS + 1)]) {
        assert.equal(p.parseMessage(bad), null, String(bad).slice(0, 20));
    }
});

test('the PC\'s answer to a text tells how many characters did not arrive, and why', () => {
    assert.equal(untypedCount({ untyped: 3, positions: [1, 5, 7], reason: 'pasteOff' }), 3);
    for (const bad of [null, {}, { untyped: 0 }, { untyped: -2 }, { untyped: 2.5 }, { untyped: '4' }]) {
        assert.equal(untypedCount(bad), 0, JSON.stringify(bad));
    }
    assert.match(untypedNote(3, 'pasteOff'), /^3 characters .*pasting them is off/);
    assert.match(untypedNote(1, 'noClipboard'), /^1 characters .*clipboard could not take them/);
});
