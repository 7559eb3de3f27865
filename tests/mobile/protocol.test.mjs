import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import * as p from '../../mobile/js/protocol.js';

describe('command builders produce the wire shapes', () => {
    test('every command, exactly', () => {
        const cases = [
            [p.mouseMove(3, -4), { command: 'mousemove', params: { dx: 3, dy: -4 } }],
            [p.mouseClick('right', { timestamp: 1700000000123 }), { command: 'mouseclick', params: { button: 'right', double: false, timestamp: 1700000000123 } }],
            [p.mouseClick('left', { double: true, timestamp: 5 }), { command: 'mouseclick', params: { button: 'left', double: true, timestamp: 5 } }],
            [p.mouseDown('left'), { command: 'mousedown', params: { button: 'left' } }],
            [p.mouseUp('middle'), { command: 'mouseup', params: { button: 'middle' } }],
            [p.mouseWheel(-3), { command: 'mousewheel', params: { amount: -3 } }],
            [p.keyText('héllo'), { command: 'keyinput', params: { text: 'héllo' } }],
            [p.keyCombo([p.VK.CONTROL, 0x43]), { command: 'keyinput', params: { keycodes: [17, 67] } }],
            [p.mediaExplore(), { command: 'mediaexplore', params: { path: '/' } }],
            [p.mediaExplore(''), { command: 'mediaexplore', params: { path: '/' } }],
            [p.mediaExplore('D:/Music'), { command: 'mediaexplore', params: { path: 'D:/Music' } }],
            [p.mediaOpen('D:/Music/a.mp3'), { command: 'mediaopen', params: { path: 'D:/Music/a.mp3' } }],
            [p.appExplore(), { command: 'appexplore', params: {} }],
            [p.appOpen({ name: 'Editor', path: 'C:/e.exe', workdir: 'C:/', args: '-n' }), { command: 'appopen', params: { path: 'C:/e.exe', workdir: 'C:/', args: '-n' } }],
            [p.appOpen({ path: 'C:/e.exe' }), { command: 'appopen', params: { path: 'C:/e.exe', workdir: '', args: '' } }],
            [p.closeWindow(), { command: 'closewindow', params: {} }],
        ];
        for (const [actual, expected] of cases) assert.deepEqual(actual, expected);
        assert.equal(p.encode(p.mouseWheel(1)), '{"command":"mousewheel","params":{"amount":1}}');
    });

    test('numbers are whole 32-bit integers, as the server reads them', () => {
        assert.deepEqual(p.mouseMove(1.9, -2.7).params, { dx: 1, dy: -2 });
        assert.deepEqual(p.mouseMove(NaN, Infinity).params, { dx: 0, dy: 0 });
        assert.deepEqual(p.mouseMove(1e12, -1e12).params, { dx: 2147483647, dy: -2147483648 });
        assert.ok(Object.is(p.mouseMove(-0.5, 0).params.dx, 0));
        assert.equal(p.mouseClick('left', { timestamp: 12.9 }).params.timestamp, 12);
    });

    test('double applies to the left button only and must be a real boolean', () => {
        assert.equal(p.mouseClick('right', { double: true }).params.double, false);
        assert.equal(p.mouseClick('left', { double: 'yes' }).params.double, false);
        assert.throws(() => p.mouseClick('Left'), RangeError);
        assert.throws(() => p.mouseDown('back'), RangeError);
    });

    test('key combinations drop empty codes and refuse an empty list', () => {
        assert.deepEqual(p.keyCombo([0x12, 0, 0x73]).params.keycodes, [18, 115]);
        assert.throws(() => p.keyCombo([]), RangeError);
    });

    test('long text is split without breaking surrogate pairs', () => {
        const text = 'a' + '😀'.repeat(150) + 'z';
        const chunks = p.keyTextChunks(text, 9);
        assert.equal(chunks.map((c) => c.params.text).join(''), text);
        for (const c of chunks) {
            assert.ok(c.params.text.length <= 9);
            assert.ok(!/[\ud800-\udbff]$/.test(c.params.text), 'chunk ends in a lone high surrogate');
        }
        assert.deepEqual(p.keyTextChunks(''), []);
    });
});

describe('incoming messages', () => {
    test('only objects with a string command are accepted; params default to {}', () => {
        assert.deepEqual(p.parseMessage('{"command":"appexplore","params":{"apps":[]}}'), { command: 'appexplore', params: { apps: [] } });
        assert.deepEqual(p.parseMessage('{"command":"x","params":[1]}'), { command: 'x', params: {} });
        for (const bad of ['', 'nope', '[]', '5', 'null', '{"command":5}', '{"params":{}}', null, 42]) {
            assert.equal(p.parseMessage(bad), null, String(bad));
        }
        assert.equal(p.parseMessage(' '.repeat(p.MAX_REPLY_CHARS + 1)), null);
    });
});
