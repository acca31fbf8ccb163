// SPDX-License-Identifier: MIT
'use strict';

const assert = require('node:assert/strict');
const http = require('node:http');
const net = require('node:net');
const { describe, test } = require('node:test');
const { PREFIX, httpRequest, openEventStream, startServer, withTimeout } = require('./harness');

function occupyPort() {
  return new Promise((resolve, reject) => {
    const blocker = net.createServer();
    blocker.on('error', reject);
    blocker.listen(0, '127.0.0.1', () => resolve(blocker));
  });
}

describe('readiness', () => {
  test('one compact ready line with numeric host and explicit port; connections accepted at once', async (t) => {
    const server = startServer(t);
    const url = await server.ready();
    assert.match(url, /^http:\/\/127\.0\.0\.1:[1-9][0-9]*\/$/);
    const page = await httpRequest(url);
    assert.equal(page.status, 200);
    assert.match(page.text, /Kelvra Hub/);
    await server.shutdown();
    const readyLine = server.lines.find((line) => line.startsWith(PREFIX));
    assert.equal(readyLine, `${PREFIX}{"event":"ready","url":"${url}"}`);
  });

  // Both run side by side on system-chosen ports.
  test('advertises KELVRA_HUB_DESKTOP_URL_HOST, bracketing IPv6 literals', async (t) => {
    const v4 = startServer(t, { env: { KELVRA_HUB_DESKTOP_URL_HOST: '192.0.2.10' } });
    const v6 = startServer(t, { env: { KELVRA_HUB_DESKTOP_URL_HOST: '::1' } });
    const [url4, url6] = await Promise.all([v4.ready(), v6.ready()]);
    assert.match(url4, /^http:\/\/192\.0\.2\.10:[1-9][0-9]*\/$/);
    assert.match(url6, /^http:\/\/\[::1\]:[1-9][0-9]*\/$/);
    assert.notEqual(new URL(url4).port, new URL(url6).port);
    // The override changes only the address shown; the server still listens on the bind host.
    const port = new URL(url4).port;
    assert.equal((await httpRequest(`http://127.0.0.1:${port}/api/state`)).status, 200);
    await Promise.all([v4.shutdown(), v6.shutdown()]);
  });
});

describe('startup failures exit 1 without a ready line', () => {
  async function expectFailure(t, env, pattern) {
    const server = startServer(t, { env });
    assert.deepEqual(await server.waitForExit(), { code: 1, signal: null });
    await server.checkOutput();
    assert.equal(server.events.length, 0);
    assert.match(server.stderrText, pattern);
  }

  test('port in use', async (t) => {
    const blocker = await occupyPort();
    t.after(() => blocker.close());
    const port = String(blocker.address().port);
    const env = { KELVRA_HUB_DESKTOP_HOST: '127.0.0.1', KELVRA_HUB_DESKTOP_PORT: port };
    await expectFailure(t, env, /already in use/);
  });

  test('address not on this computer', async (t) => {
    await expectFailure(t, { KELVRA_HUB_DESKTOP_HOST: '192.0.2.1' }, /not available/);
  });

  for (const port of ['http', '70000', '-1', '1e3']) {
    test(`invalid port ${JSON.stringify(port)}`, async (t) => {
      await expectFailure(t, { KELVRA_HUB_DESKTOP_PORT: port }, /KELVRA_HUB_DESKTOP_PORT/);
    });
  }
});

describe('stopping', () => {
  test('shutdown exits 0 within 5 s and ends keep-alive and event-stream connections', async (t) => {
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

    server.send({ command: 'shutdown' });
    assert.deepEqual(await server.waitForExit(5000), { code: 0, signal: null });
    await withTimeout(Promise.all([idleClosed, stream.ended]), 5000, 'client connections to close');
    assert.ok(stream.res.complete, 'the event stream was ended, not cut off');
    await server.checkOutput();
  });

  for (const signal of ['SIGTERM', 'SIGINT']) {
    test(`${signal} exits 0 within 2 s`, async (t) => {
      const server = startServer(t);
      const url = await server.ready();
      const stream = await openEventStream(`${url}events`);
      await stream.next('snapshot');
      server.child.kill(signal);
      assert.deepEqual(await server.waitForExit(2000), { code: 0, signal: null });
      await server.checkOutput();
    });
  }

  // The application sends it as soon as it stops, even while the server starts.
  test('shutdown sent before readiness exits 0', async (t) => {
    await startServer(t).shutdown();
  });
});
