// SPDX-License-Identifier: MIT
'use strict';

const assert = require('node:assert/strict');
const { before, after, describe, test } = require('node:test');
const { connect, httpRequest, openEventStream, postJson, startServer } = require('./harness');

describe('control page and API', () => {
  // One server for the group keeps the suite fast; each test leaves the
  // state as it found it.
  const cleanups = [];
  let server;
  let url;
  before(async () => {
    server = startServer({ after: (cleanup) => cleanups.push(cleanup) });
    url = await server.ready();
  });
  after(async () => {
    try {
      await server.shutdown();
    } finally {
      cleanups.forEach((cleanup) => cleanup());
    }
  });

  test('the page and its assets are served with the product name', async () => {
    const page = await httpRequest(url);
    assert.match(page.text, /<title>Kelvra Hub<\/title>/);
    assert.match(page.headers['content-security-policy'], /default-src 'self'/);
    for (const asset of ['app.js', 'app.css', 'favicon.svg']) {
      assert.equal((await httpRequest(`${url}${asset}`)).status, 200, asset);
    }
  });

  test('switch and group changes answer with the new state and are reported on standard output', async () => {
    const change = async (path, body) => (await postJson(`${url}api/${path}`, body)).json.clickerDistributor;
    const from = server.events.length;
    const on = await change('clicker-distributor', { enabled: true });
    assert.deepEqual(on, { enabled: true, enabledGroupCount: 1, listenerRequired: true });
    await server.waitForEvent('clicker-listener', (e) => e.enabled, from);
    // No group left means no listener even while switched on.
    const none = await change('groups/stage-left', { clickerDistributor: false });
    assert.deepEqual(none, { enabled: true, enabledGroupCount: 0, listenerRequired: false });
    await server.waitForEvent('clicker-distributor-state', (e) => e.enabledGroupCount === 0, from);
    await server.waitForEvent('clicker-listener', (e) => !e.enabled, from);
    await change('groups/stage-left', { clickerDistributor: true });
    await change('clicker-distributor', { enabled: false });
    await server.waitForEvent('clicker-distributor-state', (e) => !e.enabled, from);
  });

  test('a burst of changes reaches standard output as a few reports of the latest state', async () => {
    const from = server.events.length;
    const started = Date.now();
    for (let i = 0; i < 40; i += 1) await postJson(`${url}api/clicker-distributor`, { enabled: i % 2 === 0 });
    const seconds = (Date.now() - started) / 1000;
    // An answer to the application follows the state it sets.
    const answer = await server.request('after-burst', false);
    const reports = server.events.slice(0, answer.index).filter((e) => e.event === 'clicker-distributor-state');
    assert.equal(reports.at(-1).enabled, false);
    assert.ok(reports.length - from <= seconds + 2, `${reports.length - from} reports in ${seconds} s`);
  });

  test('bad requests are refused with a JSON error and change nothing', async () => {
    const eventsBefore = server.events.length;
    const api = `${url}api/clicker-distributor`;
    const cases = [
      [() => postJson(api, 'not json'), 400],
      [() => postJson(api, { enabled: 'true' }), 400],
      [() => postJson(api, Buffer.from('{"enabled":true,"x":"\xff"}', 'latin1')), 400],
      [() => postJson(api, { enabled: true, pad: 'x'.repeat(20000) }), 413],
      [() => postJson(api, '{"enabled":true}', { 'Content-Type': 'text/plain' }), 415],
      [() => postJson(`${url}api/groups/stage-left`, { enabled: true }), 400],
      [() => postJson(`${url}api/groups/backstage`, { clickerDistributor: true }), 404],
      [() => postJson(`${url}api/groups/%E0%A4%A`, { clickerDistributor: true }), 404],
      [() => httpRequest(`${url}api/state/`), 404],
      [() => httpRequest(`${url}api/state`, { method: 'DELETE' }), 405, 'GET'],
      [() => httpRequest(api), 405, 'POST'],
    ];
    for (const [send, status, allow] of cases) {
      const response = await send();
      assert.equal(response.status, status, `${send}`);
      assert.equal(typeof response.json.error, 'string');
      if (allow) assert.equal(response.headers.allow, allow);
    }
    const state = (await httpRequest(`${url}api/state`)).json.clickerDistributor;
    assert.deepEqual(state, { enabled: false, enabledGroupCount: 1, listenerRequired: false });
    assert.equal(server.events.length, eventsBefore);
  });

  test('the event stream delivers clicker commands from standard input and state changes', async () => {
    const stream = await openEventStream(`${url}events`);
    try {
      assert.equal((await stream.next('snapshot')).groups.length, 3);
      server.send({ command: 'clicker-key', direction: 'right', consumed: true });
      const key = await stream.next('command');
      assert.deepEqual([key.kind, key.value, key.distributed], ['clicker-key', 'right', false]);
      assert.ok(!Number.isNaN(Date.parse(key.time)));

      await server.request('sse-on', true);
      assert.equal((await stream.next('state')).clickerDistributor.enabled, true);
      server.send({ command: 'clicker-action', action: 'display-still-image-10', consumed: true });
      const action = await stream.next('command', (entry) => entry.kind === 'clicker-action');
      assert.deepEqual([action.value, action.groups], ['display-still-image-10', ['Stage Left']]);

      const recent = (await httpRequest(`${url}api/state`)).json.recentCommands;
      assert.deepEqual(recent.slice(0, 2).map((entry) => entry.value), ['display-still-image-10', 'right']);
    } finally {
      stream.close();
      await server.request('sse-off', false);
    }
  });
});

describe('other computers and web sites on the network', () => {
  const head = (method, path, url) => `${method} ${path} HTTP/1.1\r\nHost: ${new URL(url).host}\r\n`;
  const postHead = (url) => `${head('POST', '/api/clicker-distributor', url)}Content-Type: application/json\r\n`;

  test('answers only under its own address, changes state only for its own page, and ends requests that never finish', async (t) => {
    const env = { KELVRA_HUB_DESKTOP_URL_HOST: '192.0.2.10', KELVRA_HUB_SERVER_REQUEST_TIMEOUT_MS: '300' };
    const server = startServer(t, { env });
    const { port } = new URL(await server.ready());
    const host = `127.0.0.1:${port}`;
    const url = `http://${host}/`;
    const api = `${url}api/clicker-distributor`;
    const get = (headers, path = '') => httpRequest(`${url}${path}`, { headers });
    const turnOn = (headers) => postJson(api, { enabled: true }, headers);
    const rows = [
      [() => get({ Host: `evil.example:${port}` }), 421],
      [() => get({ Host: `127.0.0.1:${Number(port) + 1}` }), 421],
      [() => get({ Host: `127.0.0.2:${port}` }), 421],
      [() => get({ Host: `evil.example:${port}@127.0.0.1:${port}` }), 421],
      [() => get({ Host: `localhost:${port}` }), 200],
      [() => get({ Host: `[::1]:${port}` }), 200],
      [() => get({ Host: `192.0.2.10:${port}` }), 200],
      [() => get({ 'Sec-Fetch-Site': 'cross-site', 'Sec-Fetch-Mode': 'navigate' }), 200],
      [() => get({ 'Sec-Fetch-Site': 'cross-site', 'Sec-Fetch-Mode': 'no-cors' }, 'events'), 403],
      [() => get({ Origin: 'http://evil.example' }, 'api/state'), 403],
      [() => turnOn({ Host: `evil.example:${port}`, Origin: `http://evil.example:${port}` }), 421],
      [() => turnOn({ Origin: 'http://evil.example' }), 403],
      [() => turnOn({ Origin: 'null' }), 403],
      [() => turnOn({ Origin: `http://localhost:${port}` }), 403],
      [() => turnOn({ 'Sec-Fetch-Site': 'cross-site' }), 403],
      [() => postJson(api, { enabled: false }, { Origin: `http://${host}`, 'Sec-Fetch-Site': 'same-origin' }), 200],
    ];
    for (const [send, status] of rows) {
      const response = await send();
      assert.equal(response.status, status, `${send}`);
      if (status !== 200) assert.match(response.headers['content-type'], /^text\/plain/);
    }
    // Bodies that never finish: each provokes a note, but the notes are few.
    for (let i = 0; i < 20; i += 1) {
      const { socket, closed } = connect(url, `${postHead(url)}Content-Length: 100\r\n\r\n{"enabled":`);
      socket.end();
      await closed();
    }
    // Requests that never finish are ended after the request time limit.
    for (const text of ['', head('GET', '/', url), `${postHead(url)}Content-Length: 20\r\n\r\n{`]) {
      await connect(url, text).closed();
    }
    assert.equal((await httpRequest(`${url}api/state`)).json.clickerDistributor.enabled, false);
    await server.shutdown();
    assert.equal(server.events.filter((e) => e.event === 'clicker-distributor-state').length, 1);
    assert.ok(server.stderrText.trim().split('\n').length <= 10, server.stderrText);
  });

  test('one computer gets bounded connections and event streams; readers that stop reading are dropped', async (t) => {
    const server = startServer(t);
    const url = await server.ready();
    const idle = Array.from({ length: 64 }, () => connect(url, '', { localAddress: '127.0.0.3' }));
    await connect(url, '', { localAddress: '127.0.0.3' }).closed();
    assert.equal((await httpRequest(`${url}api/state`)).status, 200);
    idle.forEach(({ socket }) => socket.destroy());

    // Every slot there is, from one computer that never reads.
    const stalled = [];
    for (let i = 0; i < 32; i += 1) {
      const stream = connect(url, `${head('GET', '/events', url)}\r\n`, { localAddress: '127.0.0.2', stall: true });
      assert.match(await stream.answer(), /^HTTP\/1\.1 200/);
      stalled.push(stream);
    }
    // Pages that do read, from another computer and from the same one.
    const pages = [
      await openEventStream(`${url}events`),
      await openEventStream(`${url}events`, { localAddress: '127.0.0.2' }),
    ];
    // Megabytes for each stream, more than the kernel's socket buffers take,
    // in batches the pages that do read keep up with.
    const command = `${JSON.stringify({ command: 'clicker-action', action: 'blackout', consumed: true })}\n`;
    for (let last = 1000; last <= 20000; last += 1000) {
      server.send(command.repeat(1000));
      await Promise.all(pages.map((page) => page.next('command', (entry) => entry.id === last)));
    }
    assert.equal((await postJson(`${url}api/clicker-distributor`, { enabled: true })).status, 200);
    for (const page of pages) {
      await page.next('state', (state) => state.clickerDistributor.enabled);
      page.close();
    }
    for (const { socket, closed } of stalled) {
      socket.resume();
      await closed();
    }
    await server.request('off', false);
    await server.shutdown();
  });
});
