import assert from 'node:assert/strict';
import { test } from 'node:test';

import { MediaNavigator, parseApps, parseMediaListing } from '../../mobile/js/listing.js';

const rootReply = {
    root: true,
    packet: { path: '/', dirs: [{ name: 'Music', path: 'D:/Music' }, { name: '', path: '/srv/Films/' }, { name: 'n' }, 'E:/y'] },
};
const folderReply = {
    packet: {
        path: 'D:/Music/',
        dirs: ['Live', '..', '.', '', 'a/b', 'c\\d', 7, null],
        files: [{ name: 'b.MKV', ext: 'MKV', size: 1536, lm: '2024-02-03 09:05:07' }, { name: 'c.flac', size: -5, lm: 3 },
            { name: '../x.mp3' }, 'z.mp3', { ext: 'mp3' }],
    },
};

test('listings become view items; malformed entries are dropped, never followed', () => {
    const root = parseMediaListing(rootReply);
    assert.deepEqual([root.root, root.exists, root.files], [true, true, []]);
    assert.deepEqual(root.dirs.map((d) => [d.name, d.path]), [['Music', 'D:/Music'], ['/srv/Films/', '/srv/Films/']]);

    const folder = parseMediaListing(folderReply);
    assert.deepEqual(folder.dirs.map((d) => d.path), ['D:/Music/Live']);
    assert.deepEqual(folder.files.map((f) => [f.path, f.ext, f.kind, f.sizeText, f.modified]),
        [['D:/Music/b.MKV', 'MKV', 'video', '1.5 KB', '2024-02-03 09:05:07'], ['D:/Music/c.flac', 'flac', 'audio', '', '']]);

    // A folder that is gone comes back without entries: missing, not empty.
    assert.equal(parseMediaListing({ packet: { path: 'X:/gone', filter: '.mp3' } }).exists, false);
    assert.equal(parseMediaListing({ packet: { path: 'D:/empty', dirs: [], files: [] } }).exists, true);
    for (const bad of [null, [], {}, { packet: 3 }, { packet: { dirs: [] } }]) assert.equal(parseMediaListing(bad), null);

    const apps = parseApps({ apps: [{ name: 'Editor', path: 'C:/e.exe', workdir: 'C:/', args: '-n' },
        { name: '', path: 'C:\\Tools\\run.bat', workdir: 5 }, { name: 'nopath' }, 'x'] });
    assert.deepEqual(apps, [{ name: 'Editor', path: 'C:/e.exe', workdir: 'C:/', args: '-n' },
        { name: 'run.bat', path: 'C:\\Tools\\run.bat', workdir: '', args: '' }]);
    assert.deepEqual(parseApps(null), []);
});

test('the media browser goes back the way it came and recognises stale replies', () => {
    const nav = new MediaNavigator();
    assert.deepEqual(nav.root(), { command: 'mediaexplore', params: { path: '/' } });
    const root = parseMediaListing(rootReply);
    assert.ok(nav.isCurrent(root));
    assert.deepEqual(nav.enter(root.dirs[0]).params, { path: 'D:/Music' });
    assert.ok(!nav.isCurrent(root), 'a late root reply must not replace the folder');
    const folder = parseMediaListing({ packet: { ...folderReply.packet, path: 'D:/Music' } });
    assert.ok(nav.isCurrent(folder));
    assert.deepEqual(nav.enter(folder.dirs[0]).params, { path: 'D:/Music/Live' });
    assert.deepEqual(nav.trail, ['Music', 'Live']);
    assert.deepEqual(nav.open(folder.files[1]), { command: 'mediaopen', params: { path: 'D:/Music/c.flac' } });
    assert.deepEqual([nav.back().params.path, nav.back().params.path, nav.atRoot, nav.back()], ['D:/Music', '/', true, null]);
});
