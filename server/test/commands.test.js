// SPDX-License-Identifier: MIT
'use strict';

const assert = require('node:assert/strict');
const { test } = require('node:test');
const { startServer } = require('./harness');

const SET = 'set-clicker-distributor-enabled';
const RESULT = 'clicker-distributor-update-result';

const between = (server, from, to) => server.events.slice(from + 1, to);

test('state at start; switch requests answered with their requestId after state and listener events', async (t) => {
  const server = startServer(t);
  await server.ready();
  const { enabled, enabledGroupCount, listenerRequired } = await server.waitForEvent('clicker-distributor-state');
  assert.deepEqual([enabled, enabledGroupCount, listenerRequired], [false, 1, false]);
  const initial = await server.waitForEvent('clicker-listener', (e) => e.enabled === false);

  const on = await server.request('3f1c2a9e-7b4d-4c1e-9a8f-0d2b6e5c4a31', true);
  assert.deepEqual([on.ok, on.enabled, on.error], [true, true, undefined]);
  const reported = between(server, initial.index, on.index).map((e) => [e.event, e.listenerRequired ?? e.enabled]);
  assert.deepEqual(reported, [
    ['clicker-distributor-state', true],
    ['clicker-listener', true],
  ]);
  // The current value again: answered, but no change is reported.
  const again = await server.request('😀'.repeat(128), true);
  assert.deepEqual([again.ok, between(server, on.index, again.index)], [true, []]);
  const off = await server.request('quote " back\\slash \u0001', false);
  assert.deepEqual([off.ok, off.enabled], [true, false]);
  await server.shutdown();
});

test('bad lines change nothing; invalid switch requests are refused when the requestId is usable, otherwise only logged', async (t) => {
  const server = startServer(t);
  await server.ready();
  const bad = [
    'not json\n',
    '{"command":\n',
    'null\n42\n"shutdown"\n[{"command":"shutdown"}]\n',
    '{"command":"reboot"}\n{"command":{"name":"shutdown"}}\n',
    '{"command":"clicker-key","direction":"up","consumed":true}\n',
    '{"command":"clicker-action","action":"display-still-image-11","consumed":true}\n',
    '\n\r\n   \n',
    Buffer.from('{"command":"shutdown"}\xff\n', 'latin1'),
    'x'.repeat(200 * 1024),
    `{"command":"${SET}","requestId":"tail of a long line","enabled":true}\n`,
  ];
  bad.forEach((line) => server.send(line));
  for (const requestId of [undefined, 7, '', 'a'.repeat(129), '\ud800']) {
    server.send({ command: SET, requestId, enabled: true });
  }
  server.send({ command: SET, requestId: 'bad-enabled', enabled: 'true' });
  server.send({ command: SET, requestId: 'no-enabled' });
  const after = await server.request('after', false);
  // Nothing but the answers after the start events.
  const answers = server.events.slice(3, after.index + 1).map((e) => [e.event, e.requestId, e.ok, e.enabled]);
  assert.deepEqual(answers, [
    [RESULT, 'bad-enabled', false, false],
    [RESULT, 'no-enabled', false, false],
    [RESULT, 'after', true, false],
  ]);
  await server.shutdown();
});

test('CR LF endings, lines split inside a character, and a last line without a line feed', async (t) => {
  const server = startServer(t);
  await server.ready();
  server.send(`{"command":"${SET}","requestId":"crlf","enabled":true}\r\n`);
  assert.equal((await server.waitForEvent(RESULT)).requestId, 'crlf');
  const line = Buffer.from(`{"command":"${SET}","requestId":"split-ü","enabled":false}\n`);
  const inside = line.indexOf(0xc3) + 1;
  server.send(line.subarray(0, inside));
  server.send(line.subarray(inside));
  assert.equal((await server.waitForEvent(RESULT, (e) => e.requestId === 'split-ü')).ok, true);
  server.child.stdin.end(`{"command":"${SET}","requestId":"last","enabled":true}`);
  await server.waitForEvent(RESULT, (e) => e.requestId === 'last');
  assert.deepEqual(await server.waitForExit(5000), { code: 0, signal: null });
  await server.checkOutput();
});
