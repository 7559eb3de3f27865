import assert from 'node:assert/strict';
import { test } from 'node:test';

import { loadSettings, saveSettings, SETTINGS_KEY } from '../../mobile/js/settings.js';
import { extractToken, loadToken, resolveToken, tokenFromFragment, TOKEN_KEY } from '../../mobile/js/token.js';

const TOKEN = '0123456789abcdef0123456789abcdef';
const memory = (initial = {}) => {
    const map = new Map(Object.entries(initial));
    return { map, getItem: (k) => map.get(k) ?? null, setItem: (k, v) => map.set(k, String(v)) };
};
const denied = () => { throw new Error('denied'); };
const broken = { getItem: denied, setItem: denied, removeItem: denied };

test('the token is taken from the fragment or from whatever the user pastes, and nothing else', () => {
    for (const hash of [`#token=${TOKEN}`, `tab=keys&token=${TOKEN}`, `#token=${TOKEN.toUpperCase()}`]) {
        assert.equal(tokenFromFragment(hash), TOKEN, hash);
    }
    for (const bad of ['', '#', '#tab=pad', `#token=${TOKEN}0`, `#token=${TOKEN.slice(1)}`, `#token=${TOKEN.slice(1)}g`]) {
        assert.equal(tokenFromFragment(bad), null, bad);
    }
    for (const pasted of [`  ${TOKEN}\n`, `http://192.168.1.5:6888/#token=${TOKEN}`, `token=${TOKEN.toUpperCase()}`]) {
        assert.equal(extractToken(pasted), TOKEN, pasted);
    }
    for (const bad of ['hello', `${TOKEN}ff`, `token=${TOKEN}ab`, 'x'.repeat(5000)]) assert.equal(extractToken(bad), null);
});

test('a fragment token is stored and hidden; otherwise the stored one is used', () => {
    const storage = memory({ [TOKEN_KEY]: 'f'.repeat(32) });
    assert.deepEqual(resolveToken(`#token=${TOKEN}&tab=keys`, storage), { token: TOKEN, fromFragment: true, cleanHash: '#tab=keys' });
    assert.equal(storage.map.get(TOKEN_KEY), TOKEN);
    assert.deepEqual(resolveToken('#tab=apps', storage), { token: TOKEN, fromFragment: false, cleanHash: null });
    // A broken token is still removed from view, and does not replace the stored one.
    assert.deepEqual(resolveToken('#token=zz', storage), { token: TOKEN, fromFragment: false, cleanHash: '' });
    assert.equal(loadToken(memory({ [TOKEN_KEY]: '<script>' })), null);
    assert.equal(loadToken(broken), null);
    assert.equal(resolveToken(`#token=${TOKEN}`, broken).token, TOKEN);
});

test('settings survive storage round trips, garbage and unavailable storage', () => {
    const storage = memory();
    saveSettings(storage, { sensitivity: 2.2, naturalScroll: false });
    assert.deepEqual([loadSettings(storage).sensitivity, loadSettings(storage).naturalScroll], [2.2, false]);
    // A sensitivity of 0 or NaN would freeze the pointer.
    const fixed = loadSettings(memory({ [SETTINGS_KEY]: '{"sensitivity":0,"scrollSpeed":"fast","haptics":"no"}' }));
    // Settings stored before a switch existed get its default.
    assert.deepEqual(fixed, { sensitivity: 0.3, scrollSpeed: 1, naturalScroll: true, haptics: true, keepScreenOn: true });
    assert.equal(loadSettings(memory({ [SETTINGS_KEY]: '{not json' })).sensitivity, 1.6);
    assert.equal(loadSettings(broken).sensitivity, 1.6);
    assert.doesNotThrow(() => saveSettings(broken, {}));
});
