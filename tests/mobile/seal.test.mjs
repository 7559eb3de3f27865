import assert from 'node:assert/strict';
import { webcrypto } from 'node:crypto';
import { createRequire } from 'node:module';
import { test } from 'node:test';

import { deriveKey, fromHex, nonce, Seal, TO_PAGE, TO_PC } from '../../mobile/js/seal.js';
import { toHex } from '../../mobile/js/hmac.js';

// The page loads Debian's minified build; node takes the same library's source.
const nacl = createRequire(import.meta.url)('/usr/share/nodejs/tweetnacl/nacl-fast.js');
const TOKEN = '0123456789abcdef0123456789abcdef';
const range = (from) => Uint8Array.from({ length: 32 }, (_, i) => from + i);

// The vectors of the PC's test (tests/ws/tst_webclientchannel.cpp), which libsodium meets.
const KEY = '197c31fe97987975eaceb9f2956e6f27065eb7209d1e945635880d9c325c4809';
const TYPED = '{"command":"keyinput","params":{"text":"secret123"}}';
const TYPED_0 = '3b057d918652ffff3e0c2a191095307d58e7f889d9ff13e71541aea5072f77c0571d940ad7599fe753848549b67fc6be7e33ae83956d88974b604957cc360ec3bdda290a';
const PAIRED_0 = 'fee81024fced8eb78e6cbcfe4c6c8047631dc6033fad500dfeaf330b873af799e5b91e2e2ffc443905aba8e279e18da604649c6cf959318eb3b240';
const TYPED_258 = '85b4fc6420ce3fd6e38052c5d388bcbf3e6c7ac157fccb50581e2077c0a4c3382bfb4f7a52d11e335dbf480dfb678dacc896264221229a414332d3f6aa2cd76d0be3ae3a';

test('the key and the frames match the PC\'s, with Web Crypto and without', async () => {
    for (const subtle of [webcrypto.subtle, null]) {
        assert.equal(toHex(await deriveKey(TOKEN, range(0), range(32), subtle)), KEY);
    }
    const key = fromHex(KEY);
    const page = new Seal(key, TO_PC, nacl);
    const pc = new Seal(key, TO_PAGE, nacl);
    assert.equal(toHex(page.seal(TYPED)), TYPED_0);
    assert.equal(toHex(pc.seal('{"command":"paired","params":{"version":2}}')), PAIRED_0);
    assert.equal(page.open(fromHex(PAIRED_0)), '{"command":"paired","params":{"version":2}}');
    for (let i = 1; i < 258; i += 1) page.seal('');
    assert.equal(toHex(page.seal(TYPED)), TYPED_258);
    assert.deepEqual(Array.from(nonce(TO_PC, 0x0102).subarray(16)), [0, 0, 0, 0, 0, 0, 1, 2]);
});

test('a frame opens only once, in its place, in its direction, unchanged and under its key', () => {
    const key = fromHex(KEY);
    const pc = new Seal(key, TO_PAGE, nacl);
    const frames = [pc.seal('one'), pc.seal('two')];
    const flipped = frames[0].slice();
    flipped[17] ^= 1;
    const cases = [
        ['flipped bit', flipped],
        ['second before first', frames[1]],
        ['own direction', new Seal(key, TO_PC, nacl).seal('one')],
        ['other key', new Seal(fromHex('00'.repeat(32)), TO_PAGE, nacl).seal('one')],
        ['cut short', frames[0].subarray(0, 15)],
        ['not utf-8', new Seal(key, TO_PAGE, nacl).seal(new Uint8Array([0xff, 0xfe]))],
    ];
    for (const [name, frame] of cases) {
        const page = new Seal(key, TO_PC, nacl);
        assert.equal(page.open(frame), null, name);
        assert.equal(page.open(frames[0]), null, `${name}: nothing opens after a failure`);
    }
    const page = new Seal(key, TO_PC, nacl);
    assert.equal(page.open(frames[0].slice().buffer), 'one'); // an ArrayBuffer, as a browser hands it over
    assert.equal(page.open(frames[0]), null); // replayed
    assert.deepEqual([fromHex('0G'), fromHex('abc'), fromHex('AB')], [null, null, null]);
});
