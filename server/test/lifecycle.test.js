// SPDX-License-Identifier: MIT
'use strict';

const assert = require('node:assert/strict');
const http = require('node:http');
const net = require('node:net');
const { describe, test } = require('node:test');
const { PREFIX, httpRequest, openEventStream, startServer, withTimeout } = require('./harness');

test('one compact ready line with numeric host and explicit port, or the advertised host; connections accepted at once', async (t) => {
  const rows = [
    [undefined, /^http:\/\/127\.0\.0\.1:[1-9][0-9]*\/$/],
    ['192.0.2.10', /^http:\/\/192\.0\.2\.10:[1-9][0-9]*\/$/],
    ['::1', /^http:\/\/\[::1\]:[1-9][0-9]*\/$/], // IPv6 literals are bracketed
  ];
  const servers = rows.map(([host]) => startServer(t, { env: { KELVRA_HUB_DESKTOP_URL_HOST: host } }));
  const urls = await Promise.all(servers.map((server) => server.ready()));
  rows.forEach(([, pattern], i) => assert.match(urls[i], pattern));
  assert.equal((await httpRequest(urls[0])).status, 200);
  await Promise.all(servers.map((server) => server.shutdown()));
  const readyLine = servers[0].lines.find((line) => line.startsWith(PREFIX));
  assert.equal(readyLine, `${PREFIX}{"event":"ready","url":"${urls[0]}"}`);
});

test('startup failures exit 1 without a ready line: port in use, address not here, invalid ports', async (t) => {
  const blocker = net.createServer();
  await new Promise((resolve) => blocker.listen(0, '127.0.0.1', resolve));
  t.after(() => blocker.close());
  const rows = [
    [{ KELVRA_HUB_DESKTOP_HOST: '127.0.0.1', KELVRA_HUB_DESKTOP_PORT: `${blocker.address().port}` }, /already in use/],
    [{ KELVRA_HUB_DESKTOP_HOST: '192.0.2.1' }, /not available/],
    ...['http', '70000', '-1', '1e3'].map((port) => [{ KELVRA_HUB_DESKTOP_PORT: port }, /KELVRA_HUB_DESKTOP_PORT/]),
  ];
  for (const [env, reason] of rows) {
    const server = startServer(t, { env });
    assert.deepEqual(await server.waitForExit(), { code: 1, signal: null });
    await server.checkOutput();
    assert.equal(server.events.length, 0);
    assert.match(server.stderrText, reason); // a failure for this reason, not a crash
  }
});

describe('stopping', () => {
  const ways = [
    ['shutdown', (server) => server.send({ command: 'shutdown' }), 5000],
    ['SIGTERM', (server) => server.child.kill('SIGTERM'), 2000],
    ['SIGINT', (server) => server.child.kill('SIGINT'), 2000],
  ];
  for (const [way, stop, ms] of ways) {
    test(`${way} exits 0 within ${ms} ms and ends keep-alive and event-stream connections`, async (t) => {
      const server = startServer(t);
      const url = await server.ready();
      const agent = new http.Agent({ keepAlive: true });
      t.after(() => agent.destroy());
      await httpRequest(`${url}api/state`, { agent });
      const [idleSocket] = Object.values(agent.freeSockets).flat();
      assert.ok(idleSocket, 'an idle keep-alive socket is open');
      const idleClosed = new Promise((resolve) => idleSocket.once('close', resolve));
      const stream = await openEventStream(`${url}events`);
      await stream.next('snapshot');

      stop(server);
      assert.deepEqual(await server.waitForExit(ms), { code: 0, signal: null });
      await withTimeout(Promise.all([idleClosed, stream.ended]), 5000, 'client connections to close');
      assert.ok(stream.res.complete, 'the event stream was ended, not cut off');
      await server.checkOutput();
    });
  }

  // The application sends it as soon as it stops, even while the server starts.
  test('shutdown sent before readiness exits 0', async (t) => {
    await startServer(t).shutdown();
  });
});
