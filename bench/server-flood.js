#!/usr/bin/env node
// SPDX-License-Identifier: MIT
// Measures the control-page server under a flood from one computer: event
// streams that are opened and never read, and switch changes as fast as the
// server answers them. Reports the server's resident memory at start, after a
// warm-up of 200 changes (its code compiled, its allocator primed) and after
// the flood, what it printed during the flood, and whether a page opened
// during the flood got its events.
//   bench/server-flood.js [streams] [changes]
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const { connect, openEventStream, postJson, startServer } = require('../server/test/harness');

const streams = Number(process.argv[2] || 32);
const changes = Number(process.argv[3] || 3000);

const cleanups = [];
const context = { after: (cleanup) => cleanups.push(cleanup) };

function residentKiB(pid) {
  const [, kib] = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
  return Number(kib);
}

const printed = (server) => Buffer.concat([...server.output.stdout, ...server.output.stderr]).length;

async function main() {
  const server = startServer(context);
  const url = await server.ready();
  const { host } = new URL(url);
  const pid = server.child.pid;
  const atStart = residentKiB(pid);
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const api = `${url}api/clicker-distributor`;
  const change = (enabled) =>
    new Promise((resolve, reject) => {
      const options = { method: 'POST', agent, headers: { 'Content-Type': 'application/json' } };
      const req = http.request(api, options, (res) => res.resume().on('end', resolve));
      req.on('error', reject);
      req.end(JSON.stringify({ enabled }));
    });
  for (let i = 0; i < 200; i += 1) await change(i % 2 === 0);
  await server.request('warm', false);
  const before = residentKiB(pid);
  const printedBefore = printed(server);

  const stalled = [];
  for (let i = 0; i < streams; i += 1) {
    const stream = connect(url, `GET /events HTTP/1.1\r\nHost: ${host}\r\n\r\n`, { stall: true });
    await stream.answer();
    stalled.push(stream);
  }
  const started = Date.now();
  let page;
  for (let i = 0; i < changes; i += 1) {
    if (i === Math.floor(changes / 2)) page = await openEventStream(`${url}events`);
    await change(i % 2 === 0);
  }
  const seconds = (Date.now() - started) / 1000;
  const last = await postJson(api, { enabled: true });
  const pageGotEvents = await page
    .next('state', (state) => state.clickerDistributor.enabled === last.json.clickerDistributor.enabled)
    .then(() => 'yes', (error) => `no (${error.message})`);
  const after = residentKiB(pid);
  const printedDuring = printed(server) - printedBefore;

  stalled.forEach(({ socket }) => socket.resume());
  const endings = await Promise.all(stalled.map(({ closed }) => closed().then(() => 1, () => 0)));
  const ended = endings.reduce((a, b) => a + b, 0);
  page.close();
  agent.destroy();
  await server.shutdown();
  cleanups.forEach((cleanup) => cleanup());

  console.log(`${streams} never-reading streams, ${changes} changes in ${seconds.toFixed(1)} s`);
  const mib = (kib) => `${(kib / 1024).toFixed(1)} MiB`;
  console.log(`server memory: ${mib(atStart)} at start, ${mib(before)} warm, ${mib(after)} after the flood`);
  console.log(`printed during the flood: ${printedDuring} bytes`);
  console.log(`page opened during the flood got its events: ${pageGotEvents}`);
  // The others still fit in the kernel's socket buffers.
  console.log(`never-reading streams the server ended: ${ended} of ${streams}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
