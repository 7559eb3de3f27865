import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { loadSettings, sanitizeSettings, saveSettings, SETTINGS_KEY } from '../../mobile/js/settings.js';
import { extractToken, fragmentWithoutToken, loadToken, resolveToken, tokenFromFragment, TOKEN_KEY } from '../../mobile/js/token.js';

const TOKEN = '0123456789abcdef0123456789abcdef';

function memory(initial = {}) {
    const map = new Map(Object.entries(initial));
    return {
        map,
        getItem: (k) => (map.has(k) ? map.get(k) : null),
        setItem: (k, v) => map.set(k, String(v)),
        removeItem: (k) => map.delete(k),
    };
}

const broken = {
    getItem() { throw new Error('denied'); },
    setItem() { throw new Error('denied'); },
    removeItem() { throw new Error('denied'); },
};

describe('pairing token', () => {
    test('is read from the fragment, alone or beside other keys', () => {
        assert.equal(tokenFromFragment(`#token=${TOKEN}`), TOKEN);
        assert.equal(tokenFromFragment(`tab=keys&token=${TOKEN}`), TOKEN);
        assert.equal(tokenFromFragment(`#token=${TOKEN.toUpperCase()}`), TOKEN);
        for (const bad of ['', '#', '#tab=pad', `#token=${TOKEN}0`, `#token=${TOKEN.slice(1)}`, `#token=${TOKEN.slice(1)}g`]) {
            assert.equal(tokenFromFragment(bad), null, bad);
        }
    });

    test('leaves the rest of the fragment visible', () => {
        assert.equal(fragmentWithoutToken(`#token=${TOKEN}`), '');
        assert.equal(fragmentWithoutToken(`#token=${TOKEN}&tab=media`), '#tab=media');
    });

    test('is found in whatever the user pastes', () => {
        assert.equal(extractToken(`  ${TOKEN}\n`), TOKEN);
        assert.equal(extractToken(`http://192.168.1.5:6888/#token=${TOKEN}`), TOKEN);
        assert.equal(extractToken(`token=${TOKEN.toUpperCase()}`), TOKEN);
        for (const bad of ['', 'hello', `${TOKEN}ff`, `token=${TOKEN}ab`, 'x'.repeat(5000)]) assert.equal(extractToken(bad), null);
    });

    test('a fragment token is stored and wins; otherwise the stored one is used', () => {
        const storage = memory({ [TOKEN_KEY]: 'ffffffffffffffffffffffffffffffff' });
        const first = resolveToken(`#token=${TOKEN}&tab=keys`, storage);
        assert.deepEqual(first, { token: TOKEN, fromFragment: true, cleanHash: '#tab=keys' });
        assert.equal(storage.map.get(TOKEN_KEY), TOKEN);

        assert.deepEqual(resolveToken('#tab=apps', storage), { token: TOKEN, fromFragment: false, cleanHash: null });
        // A broken token in the address is still removed from view, and does not replace the stored one.
        assert.deepEqual(resolveToken('#token=zz', storage), { token: TOKEN, fromFragment: false, cleanHash: '' });
    });

    test('garbage or unavailable storage means no token', () => {
        assert.equal(loadToken(memory({ [TOKEN_KEY]: '<script>' })), null);
        assert.equal(loadToken(broken), null);
        assert.deepEqual(resolveToken(`#token=${TOKEN}`, broken).token, TOKEN);
    });
});

describe('settings', () => {
    test('out-of-range, mistyped and missing values fall back to usable ones', () => {
        const s = sanitizeSettings({ sensitivity: 0, scrollSpeed: 'fast', naturalScroll: 'no', haptics: false });
        assert.equal(s.sensitivity, 0.3);
        assert.equal(s.scrollSpeed, 1);
        assert.equal(s.naturalScroll, true);
        assert.equal(s.haptics, false);
        assert.equal(sanitizeSettings({ sensitivity: 99 }).sensitivity, 5);
        assert.equal(sanitizeSettings({ sensitivity: NaN }).sensitivity, 1.6);
    });

    test('round-trip through storage, surviving broken entries', () => {
        const storage = memory();
        saveSettings(storage, { sensitivity: 2.2, naturalScroll: false });
        assert.equal(loadSettings(storage).sensitivity, 2.2);
        assert.equal(loadSettings(storage).naturalScroll, false);
        assert.deepEqual(loadSettings(memory({ [SETTINGS_KEY]: '{not json' })), sanitizeSettings(null));
        assert.deepEqual(loadSettings(broken), sanitizeSettings(null));
        assert.doesNotThrow(() => saveSettings(broken, {}));
    });
});
