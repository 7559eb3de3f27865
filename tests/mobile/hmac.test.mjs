import assert from 'node:assert/strict';
import { createHash, createHmac, webcrypto } from 'node:crypto';
import { test } from 'node:test';

import { challengeAnswer, hmacSha256, sha256, toHex } from '../../mobile/js/hmac.js';

const hex = (text) => Uint8Array.from(text.match(/../g) ?? [], (b) => parseInt(b, 16));
const ascii = (text) => new TextEncoder().encode(text);

// RFC 4231, the HMAC-SHA-256 test cases (case 5 is truncated output and compared as a prefix).
const RFC4231 = [
    ['1', hex('0b'.repeat(20)), ascii('Hi There'),
        'b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7'],
    ['2', ascii('Jefe'), ascii('what do ya want for nothing?'),
        '5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843'],
    ['3', hex('aa'.repeat(20)), hex('dd'.repeat(50)),
        '773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe'],
    ['4', hex('0102030405060708090a0b0c0d0e0f10111213141516171819'), hex('cd'.repeat(50)),
        '82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b'],
    ['5', hex('0c'.repeat(20)), ascii('Test With Truncation'), 'a3b6167473100ee06e0c796c2955552b'],
    ['6', hex('aa'.repeat(131)), ascii('Test Using Larger Than Block-Size Key - Hash Key First'),
        '60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54'],
    ['7', hex('aa'.repeat(131)),
        ascii('This is a test using a larger than block-size key and a larger than block-size data. '
            + 'The key needs to be hashed before being used by the HMAC algorithm.'),
        '9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2'],
];

test('HMAC-SHA-256 gives the RFC 4231 results', () => {
    for (const [name, key, data, expected] of RFC4231) {
        assert.ok(toHex(hmacSha256(key, data)).startsWith(expected), `case ${name}`);
    }
});

test('SHA-256 and HMAC agree with Node across every padding boundary and key length', () => {
    // Lengths around the block (64) and the length field (55/56) are where padding goes wrong.
    for (let length = 0; length <= 200; length += 1) {
        const data = Uint8Array.from({ length }, (_, i) => (i * 31 + length) & 0xff);
        assert.equal(toHex(sha256(data)), createHash('sha256').update(data).digest('hex'), `sha256 of ${length} bytes`);
        const key = data.subarray(0, length % 150);
        assert.equal(toHex(hmacSha256(key, data)), createHmac('sha256', key).update(data).digest('hex'),
            `hmac with a ${key.length}-byte key`);
    }
});

test('the challenge answer is the same with Web Crypto, without it, and with one that fails', async () => {
    const token = '0123456789abcdef0123456789abcdef';
    const challenge = 'c0ffee'.repeat(10);
    const expected = createHmac('sha256', token).update(challenge).digest('hex');
    const refusing = { importKey: () => Promise.reject(new Error('insecure context')) };
    assert.equal(await challengeAnswer(token, challenge, webcrypto.subtle), expected);
    assert.equal(await challengeAnswer(token, challenge, null), expected); // plain http: no Web Crypto
    assert.equal(await challengeAnswer(token, challenge, refusing), expected);
});
