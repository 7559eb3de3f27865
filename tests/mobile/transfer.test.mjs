// The upload queue: how many run at once, what a ticket refusal or an HTTP answer becomes, cancel.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { PARALLEL, Pace, Status, UploadQueue, formatDuration } from '../../mobile/js/transfer.js';

class FakeRequest {
    constructor() {
        this.headers = {};
        this.upload = {};
        this.aborted = false;
    }
    open(method, url) { Object.assign(this, { method, url }); }
    setRequestHeader(name, value) { this.headers[name] = value; }
    send(body) { this.body = body; }
    abort() { this.aborted = true; }
}

function harness() {
    const asked = [];
    const requests = [];
    let now = 0;
    const queue = new UploadQueue({
        requestTicket: (id, file) => (asked.push([id, file.size]), true),
        createRequest: () => (requests.push(new FakeRequest()), requests[requests.length - 1]),
        now: () => now,
        setTimeout: () => 1,
        clearTimeout: () => {},
    }, () => {});
    return { queue, asked, requests, advance: (ms) => { now += ms; } };
}

const file = (name, size) => ({ name, size });

test('files go a few at a time, each with its own ticket and name header', () => {
    const { queue, asked, requests } = harness();
    const items = queue.add([file('a b.jpg', 0), file('b', 5), file('c', 9), file('d', 1)]);
    assert.equal(asked.length, PARALLEL);
    queue.ticketReply({ id: items[0].id, ticket: 't1' });
    assert.deepEqual([requests[0].url, requests[0].headers], ['upload', { 'X-Velmora-Ticket': 't1', 'X-Velmora-Name': 'a%20b.jpg' }]);
    Object.assign(requests[0], { status: 200, responseText: '{"name":"a b (2).jpg"}' });
    requests[0].onload();
    assert.deepEqual([items[0].status, items[0].savedAs], [Status.DONE, 'a b (2).jpg']);
    assert.equal(asked.length, 4, 'a finished file makes room for the next');

    queue.ticketReply({ id: items[1].id, error: 'noSpace' });
    queue.ticketReply({ id: items[2].id, ticket: 't3' });
    Object.assign(requests[1], { status: 413 });
    requests[1].onload();
    queue.ticketReply({ id: items[3].id, ticket: 't4' });
    requests[2].onerror();
    assert.deepEqual(items.map((item) => item.reason), ['', 'noSpace', 'tooLarge', 'failed']);
});

test('cancel stops one or all, and nothing reported after counts', () => {
    const { queue, requests } = harness();
    const items = queue.add([file('a', 10), file('b', 10), file('c', 10), file('d', 10)]);
    queue.ticketReply({ id: items[0].id, ticket: 't' });
    queue.cancel(items[0].id);
    assert.ok(requests[0].aborted);
    assert.equal(items[0].status, Status.CANCELLED);
    queue.ticketReply({ id: items[1].id, ticket: 'late' }); // still running: it is sent
    queue.cancelAll();
    assert.ok(items.every((item) => item.status === Status.CANCELLED));
    queue.ticketReply({ id: items[2].id, ticket: 'after cancel' });
    assert.equal(requests.length, 2, 'no request for a cancelled file');
});

test('speed and time left follow the last seconds', () => {
    const pace = new Pace(0);
    pace.update(1000, 1000);
    pace.update(2000, 2000);
    assert.equal(pace.bytesPerSecond(), 1000);
    assert.equal(pace.secondsLeft(10000), 8);
    for (let t = 3000; t <= 10000; t += 1000) pace.update(t, 2000 + (t - 2000) * 4);
    assert.ok(Math.abs(pace.bytesPerSecond() - 4000) < 1, 'older samples no longer count');
    assert.deepEqual([formatDuration(42), formatDuration(125), formatDuration(3725), formatDuration(null)], ['42 s', '2:05', '1:02:05', '']);
});
