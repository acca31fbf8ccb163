// SPDX-License-Identifier: MIT
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');
const { httpRequest, makeTempDir, postJson, startServer } = require('./harness');

async function startupState(server) {
  const url = await server.ready();
  const state = await server.waitForEvent('clicker-distributor-state');
  const listener = await server.waitForEvent('clicker-listener');
  const groups = (await httpRequest(`${url}api/state`)).json.groups.map((group) => group.clickerDistributor);
  return { enabled: state.enabled, listener: listener.enabled, groups };
}

test('changes from standard input and HTTP survive a restart under XDG_STATE_HOME, with no temporary files left', async (t) => {
  const dir = makeTempDir(t);
  const env = { KELVRA_HUB_SERVER_STATE_FILE: undefined, XDG_STATE_HOME: dir };
  const first = startServer(t, { dir, env });
  const url = await first.ready();
  await first.request('on', true);
  assert.equal((await postJson(`${url}api/groups/stage-centre`, { clickerDistributor: true })).status, 200);
  await first.shutdown();

  const second = startServer(t, { dir, env });
  assert.deepEqual(await startupState(second), { enabled: true, listener: true, groups: [true, true, false] });
  await second.shutdown();
  assert.deepEqual(fs.readdirSync(path.join(dir, 'Morvane', 'Kelvra Hub')), ['server-state.json']);
});

test('a corrupt file gives the defaults, invalid members fall back one by one; a change replaces it', async (t) => {
  const groups = { 'stage-left': false, 'stage-right': true, 'stage-centre': 1 };
  const rows = [
    ['{"clickerDistributorEnabled": tr', [true, false, false]],
    [JSON.stringify({ clickerDistributorEnabled: 'yes', groups }), [false, false, true]],
  ];
  for (const [text, expected] of rows) {
    const dir = makeTempDir(t);
    const file = path.join(dir, 'state.json');
    fs.writeFileSync(file, text);
    const server = startServer(t, { dir });
    assert.deepEqual(await startupState(server), { enabled: false, listener: false, groups: expected });
    await server.request('on', true);
    assert.equal(JSON.parse(fs.readFileSync(file, 'utf8')).clickerDistributorEnabled, true);
    await server.shutdown();
  }
});

test('a change that cannot be saved is refused and not applied', async (t) => {
  const dir = makeTempDir(t);
  fs.writeFileSync(path.join(dir, 'not-a-directory'), '');
  const env = { KELVRA_HUB_SERVER_STATE_FILE: path.join(dir, 'not-a-directory', 'state.json') };
  const server = startServer(t, { dir, env });
  const url = await server.ready();
  const result = await server.request('unsaved', true);
  assert.deepEqual([result.ok, result.enabled, typeof result.error], [false, false, 'string']);
  assert.equal((await postJson(`${url}api/clicker-distributor`, { enabled: true })).status, 500);
  assert.equal(server.events.filter((e) => e.event === 'clicker-distributor-state').length, 1);
  await server.shutdown();
});
