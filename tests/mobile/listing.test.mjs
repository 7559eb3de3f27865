import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { MediaNavigator, formatSize, joinPath, parseApps, parseMediaListing } from '../../mobile/js/listing.js';

const rootReply = {
    root: true,
    packet: {
        path: '/',
        filter: 'none',
        dirs: [{ name: 'Music', path: 'D:/Music' }, { name: 'Films', path: '/home/u/Films/' }],
        files: [],
        statistics: { directoryCount: 2, fileCount: 0 },
    },
};

const folderReply = {
    packet: {
        path: 'D:/Music',
        filter: '.mkv|.avi|.mp4|.mov|.mpg|.wmv|.dat|.ts|.iso|.mp3|.wav|.aac|.flac|.dts|.m4a|.cue',
        dirs: ['Live', 'Zeta'],
        files: [
            { name: 'b.MKV', ext: 'MKV', size: 1536, lm: '2024-02-03 09:05:07' },
            { name: 'c.flac', ext: 'flac', size: 0, lm: '' },
        ],
        statistics: { directoryCount: 2, fileCount: 2 },
    },
};

describe('media listings', () => {
    test('the root lists registered folders by their own paths', () => {
        const l = parseMediaListing(rootReply);
        assert.equal(l.root, true);
        assert.equal(l.exists, true);
        assert.deepEqual(l.dirs.map((d) => [d.name, d.path]), [['Music', 'D:/Music'], ['Films', '/home/u/Films/']]);
        assert.deepEqual(l.files, []);
    });

    test('a folder joins sub-folder and file names to its path', () => {
        const l = parseMediaListing(folderReply);
        assert.equal(l.root, false);
        assert.deepEqual(l.dirs.map((d) => d.path), ['D:/Music/Live', 'D:/Music/Zeta']);
        assert.deepEqual(
            l.files.map((f) => [f.path, f.ext, f.kind, f.sizeText, f.modified]),
            [['D:/Music/b.MKV', 'MKV', 'video', '1.5 KB', '2024-02-03 09:05:07'], ['D:/Music/c.flac', 'flac', 'audio', '0 B', '']],
        );
    });

    test('a folder that does not exist is reported as missing, not as empty', () => {
        const missing = parseMediaListing({ packet: { path: 'X:/gone', filter: '.mp3' } });
        assert.equal(missing.exists, false);
        const empty = parseMediaListing({ packet: { path: 'D:/empty', dirs: [], files: [], statistics: {} } });
        assert.equal(empty.exists, true);
    });

    test('malformed entries are dropped, never followed', () => {
        const l = parseMediaListing({
            packet: {
                path: '/m',
                dirs: ['ok', '..', '.', '', 'a/b', 'c\\d', 7, null, { name: 'x' }],
                files: [{ name: '../x.mp3' }, { name: 'y.mp3', size: -5, lm: 3 }, 'z.mp3', { ext: 'mp3' }],
            },
        });
        assert.deepEqual(l.dirs.map((d) => d.name), ['ok']);
        assert.deepEqual(l.files.map((f) => [f.name, f.ext, f.size, f.modified]), [['y.mp3', 'mp3', null, '']]);
        const badRoot = parseMediaListing({ root: true, packet: { dirs: [{ name: 'n' }, { name: '', path: 'E:/x' }, 'E:/y'] } });
        assert.deepEqual(badRoot.dirs.map((d) => [d.name, d.path]), [['E:/x', 'E:/x']]);
        for (const bad of [null, [], {}, { packet: 3 }, { packet: { dirs: [] } }]) assert.equal(parseMediaListing(bad), null);
    });

    test('paths join without doubled separators', () => {
        assert.equal(joinPath('D:/Music', 'a'), 'D:/Music/a');
        assert.equal(joinPath('D:/', 'a'), 'D:/a');
        assert.equal(joinPath('C:\\Users\\me\\', 'a'), 'C:\\Users\\me\\a');
        assert.equal(joinPath('/', 'srv'), '/srv');
    });

    test('sizes read naturally', () => {
        const cases = [[0, '0 B'], [1023, '1023 B'], [1024, '1.0 KB'], [10 * 1024, '10 KB'], [5.5 * 1024 ** 3, '5.5 GB'], [-1, ''], ['x', '']];
        for (const [bytes, text] of cases) assert.equal(formatSize(bytes), text, String(bytes));
    });
});

describe('media navigation', () => {
    test('back retraces the way in and stale replies are recognised', () => {
        const nav = new MediaNavigator();
        assert.deepEqual(nav.root(), { command: 'mediaexplore', params: { path: '/' } });
        const root = parseMediaListing(rootReply);
        assert.ok(nav.isCurrent(root));

        assert.deepEqual(nav.enter(root.dirs[0]).params, { path: 'D:/Music' });
        assert.ok(!nav.isCurrent(root), 'root reply arriving late must not replace the folder');
        const folder = parseMediaListing(folderReply);
        assert.ok(nav.isCurrent(folder));

        nav.enter(folder.dirs[0]);
        assert.equal(nav.path, 'D:/Music/Live');
        assert.deepEqual(nav.trail, ['Music', 'Live']);
        assert.deepEqual(nav.open(folder.files[1]), { command: 'mediaopen', params: { path: 'D:/Music/c.flac' } });

        assert.deepEqual(nav.back().params, { path: 'D:/Music' });
        assert.deepEqual(nav.back().params, { path: '/' });
        assert.ok(nav.atRoot);
        assert.equal(nav.back(), null);
    });
});

describe('application listings', () => {
    test('apps keep their fields; bad entries are skipped; a missing name falls back to the file name', () => {
        const apps = parseApps({
            apps: [
                { name: 'Editor', path: 'C:/e.exe', workdir: 'C:/', args: '' },
                { name: '', path: 'C:\\Tools\\run.bat', workdir: 5 },
                { name: 'nopath' },
                'x',
            ],
        });
        assert.deepEqual(apps, [
            { name: 'Editor', path: 'C:/e.exe', workdir: 'C:/', args: '' },
            { name: 'run.bat', path: 'C:\\Tools\\run.bat', workdir: '', args: '' },
        ]);
        assert.deepEqual(parseApps({}), []);
        assert.deepEqual(parseApps(null), []);
    });
});
