import assert from 'node:assert/strict';
import { test } from 'node:test';

import { candidateHosts, findPc, loadPc, MAX_ADDRESSES, pcPlaces, pcUrl, rememberPc } from '../../mobile/js/relocate.js';

function memoryStorage() {
    const map = new Map();
    return { getItem: (k) => (map.has(k) ? map.get(k) : null), setItem: (k, v) => map.set(k, String(v)), map };
}

test('only a plain host name and dotted IPv4 addresses from the PC are kept', () => {
    const cases = [
        ['a PC on two networks', { host: 'desk-1', addresses: ['192.168.1.20', '10.0.0.5', '192.168.1.20'] },
            { host: 'desk-1', addresses: ['192.168.1.20', '10.0.0.5'] }],
        ['a name that would lead elsewhere', { host: 'evil.example/x', addresses: ['10.0.0.5'] }, { host: null, addresses: ['10.0.0.5'] }],
        ['a name with a port', { host: 'desk:80', addresses: [] }, null],
        ['addresses that are not', { host: 'desk', addresses: ['10.0.0.256', 'fe80::1', '1.2.3.4@x', 7, null] }, { host: 'desk', addresses: [] }],
        ['nothing usable', { version: 2 }, null],
        ['no params at all', undefined, null],
    ];
    for (const [name, params, expected] of cases) assert.deepEqual(pcPlaces(params), expected, name);
    const many = Array.from({ length: 40 }, (_, i) => `10.0.0.${i + 1}`);
    assert.equal(pcPlaces({ addresses: many }).addresses.length, MAX_ADDRESSES);
});

test('what is remembered survives a reload and garbage in storage is ignored', () => {
    const storage = memoryStorage();
    assert.equal(loadPc(storage), null);
    assert.equal(rememberPc(storage, { host: 'desk', addresses: ['10.0.0.5'] }), true);
    assert.deepEqual(loadPc(storage), { host: 'desk', addresses: ['10.0.0.5'] });
    assert.equal(rememberPc(storage, { version: 2 }), false); // an older PC: the last known places stay
    assert.deepEqual(loadPc(storage), { host: 'desk', addresses: ['10.0.0.5'] });
    storage.setItem('velmora.pc', '{"host":"a.b/c","addresses":"10.0.0.1"}');
    assert.equal(loadPc(storage), null);
    storage.setItem('velmora.pc', 'not json');
    assert.equal(loadPc(storage), null);
    const broken = { getItem() { throw new Error('private mode'); }, setItem() { throw new Error('quota'); } };
    assert.deepEqual([loadPc(broken), rememberPc(broken, { host: 'desk' })], [null, false]);
});

test('the name is tried first, never the address that stopped answering, and the first that answers wins', async () => {
    const places = { host: 'desk', addresses: ['192.168.1.20', '10.0.0.5'] };
    const hosts = candidateHosts(places, '192.168.1.20:6888', '6888');
    assert.deepEqual(hosts, ['desk.local:6888', '10.0.0.5:6888']);
    assert.deepEqual(candidateHosts(null, 'x', '6888'), []);
    const tried = [];
    const found = await findPc(hosts, async (h) => { tried.push(h); if (h.startsWith('desk')) throw new Error('no name'); return true; });
    assert.deepEqual([found, tried], ['10.0.0.5:6888', hosts]);
    assert.equal(await findPc(hosts, () => false), null);
    assert.equal(pcUrl('10.0.0.5:6888', '0123456789abcdef0123456789abcdef'), 'http://10.0.0.5:6888/#token=0123456789abcdef0123456789abcdef');
});
