import assert from 'node:assert/strict';
import { test } from 'node:test';

import { NowPlaying, PENDING_MS, formatTime, mediaControl, mediaStatus, parseMediaStatus } from '../../mobile/js/nowplaying.js';

test('media commands: the wire shape, values clamped to what the PC accepts', () => {
    const cases = [
        [mediaStatus(), 'mediastatus', {}],
        [mediaControl('playpause'), 'mediacontrol', { action: 'playpause' }],
        [mediaControl('next', 5), 'mediacontrol', { action: 'next' }],
        [mediaControl('seek', -10), 'mediacontrol', { action: 'seek', value: -10 }],
        [mediaControl('position', -3), 'mediacontrol', { action: 'position', value: 0 }],
        [mediaControl('volume', 1.7), 'mediacontrol', { action: 'volume', value: 1 }],
        [mediaControl('volume', '0.5'), 'mediacontrol', { action: 'volume', value: 0.5 }],
    ];
    for (const [actual, command, params] of cases) assert.deepEqual(actual, { command, params });
    for (const bad of [() => mediaControl('stop'), () => mediaControl('seek'), () => mediaControl('volume', NaN)]) {
        assert.throws(bad, RangeError);
    }
});

test('status messages are untrusted: odd fields fall back, art only as a picture or web address', () => {
    assert.deepEqual(parseMediaStatus({ running: false, title: 'x' }), { running: false });
    assert.deepEqual(parseMediaStatus(null), { running: false });
    assert.deepEqual(parseMediaStatus({ running: 'yes' }), { running: false });
    const s = parseMediaStatus({
        running: true, title: 7, artist: 'Ann', status: 'Rewinding', position: -4, length: 0, volume: 3,
        art: 'javascript:alert(1)', artUrl: 'file:///etc/passwd',
    });
    assert.deepEqual(s, {
        running: true, player: '', title: '', artist: 'Ann', album: '', status: 'Stopped', position: 0, length: null, volume: 1, art: '',
    });
    assert.equal(parseMediaStatus({ running: true, art: 'data:image/jpeg;base64,AA' }).art, 'data:image/jpeg;base64,AA');
    assert.equal(parseMediaStatus({ running: true, artUrl: 'https://x.org/a.jpg' }).art, 'https://x.org/a.jpg');
});

test('times read as the players show them', () => {
    for (const [seconds, shown] of [[0, '0:00'], [59.9, '0:59'], [61, '1:01'], [3600, '1:00:00'], [3725, '1:02:05'], [-1, '–:––'], [NaN, '–:––'], [undefined, '–:––']]) {
        assert.equal(formatTime(seconds), shown, String(seconds));
    }
});

test('the position moves on only while playing, and never past the end', () => {
    const np = new NowPlaying();
    np.update({ running: true, status: 'Playing', position: 10, length: 12 }, 1000);
    assert.equal(np.positionAt(2500), 11.5);
    assert.equal(np.positionAt(99000), 12);
    np.update({ running: true, status: 'Paused', position: 11, length: 12 }, 3000);
    assert.equal(np.positionAt(9000), 11);
    np.update({ running: true, status: 'Playing', position: 5 }, 3000); // no length: no end either
    assert.equal(np.positionAt(103000), 105);
});

test('a file opened from the phone shows at once, until its player plays or gives up', () => {
    const np = new NowPlaying();
    assert.equal(np.visible, false);
    np.expect('song.mp3', 0);
    assert.equal(np.visible, true);
    assert.equal(np.title, 'song.mp3');
    np.update({ running: false }, 100); // no player yet
    assert.equal(np.visible, true);
    np.update({ running: true, status: 'Paused', title: 'Old track' }, 200); // the old one, paused
    assert.equal(np.title, 'song.mp3');
    np.update({ running: true, status: 'Playing', title: 'Song' }, 300);
    assert.equal(np.title, 'Song');
    assert.equal(np.pending, null);

    np.reset();
    np.expect('late.mp3', 0);
    np.update({ running: false }, PENDING_MS);
    assert.equal(np.visible, false);
});
