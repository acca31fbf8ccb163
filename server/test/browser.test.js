// SPDX-License-Identifier: MIT
'use strict';

// The control page in headless Chromium, driven over the DevTools protocol on
// a pipe: NUL-terminated JSON messages in on descriptor 3, out on 4.

const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { httpRequest, startServer, waitUntil, withTimeout } = require('./harness');

const TIMEOUT_MS = 10000;

class Browser {
  constructor(t, hostResolverRules) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvra-hub-chromium-'));
    const flags = [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--disable-quic',
      `--user-data-dir=${profile}`,
      `--host-resolver-rules=${hostResolverRules}`,
      '--remote-debugging-pipe',
      'about:blank',
    ];
    this.child = spawn('chromium', flags, { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
    const exited = new Promise((resolve) => this.child.once('exit', resolve));
    // The profile goes once the browser and its helpers have stopped writing to it.
    t.after(async () => {
      if (this.child.pid !== undefined && this.child.exitCode === null) {
        this.child.stdio[3].write(`${JSON.stringify({ id: 0, method: 'Browser.close' })}\0`);
        await withTimeout(exited, TIMEOUT_MS, 'chromium to close').catch(() => this.child.kill('SIGKILL'));
      }
      fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
    });
    this.started = new Promise((resolve, reject) => {
      this.child.once('spawn', resolve);
      this.child.once('error', (error) => reject(new Error(`chromium could not start (${error.code}); install it`)));
    });
    this.nextId = 1;
    this.calls = new Map();
    this.events = [];
    this.listeners = new Set();
    let partial = '';
    this.child.stdio[4].setEncoding('utf8').on('data', (text) => {
      const messages = (partial + text).split('\0');
      partial = messages.pop();
      messages.map((message) => JSON.parse(message)).forEach((message) => this.receive(message));
    });
  }

  receive(message) {
    const call = this.calls.get(message.id);
    if (!call) {
      this.events.push(message);
      this.listeners.forEach((listener) => listener());
      return;
    }
    this.calls.delete(message.id);
    if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
    else call.resolve(message.result);
  }

  call(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const answered = new Promise((resolve, reject) => this.calls.set(id, { method, resolve, reject }));
    this.child.stdio[3].write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
    return withTimeout(answered, TIMEOUT_MS, method);
  }

  nextEvent(method, sessionId) {
    const from = this.events.length;
    const seen = () => this.events.slice(from).some((e) => e.method === method && e.sessionId === sessionId);
    return waitUntil(this.listeners, () => seen() || undefined, method);
  }

  async openTab() {
    await this.started;
    const { targetId } = await this.call('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.call('Target.attachToTarget', { targetId, flatten: true });
    await this.call('Page.enable', {}, sessionId);
    const evaluate = async (expression) => {
      const params = { expression, awaitPromise: true, returnByValue: true };
      const { result, exceptionDetails } = await this.call('Runtime.evaluate', params, sessionId);
      if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
      return result.value;
    };
    return {
      evaluate,
      load: async (url) => {
        const loaded = this.nextEvent('Page.loadEventFired', sessionId);
        await this.call('Page.navigate', { url }, sessionId);
        await loaded;
        return evaluate("performance.getEntriesByType('navigation')[0].responseStatus");
      },
      // Settles once the page's own code has made `condition` true.
      until: (condition) =>
        evaluate(`new Promise((resolve) => {
          const check = () => (${condition}) ? resolve(true) : setTimeout(check, 10);
          check();
        })`),
    };
  }
}

test('the page drives the server in a browser; under another name, or from another site, nothing', async (t) => {
  const server = startServer(t);
  const url = await server.ready();
  const { port } = new URL(url);
  const tab = await new Browser(t, 'MAP evil.example 127.0.0.1').openTab();

  assert.equal(await tab.load(url), 200);
  await tab.until("document.getElementById('connection').dataset.state === 'live'");
  const before = server.events.length;
  await tab.evaluate("document.getElementById('distributor-switch').click()");
  await server.waitForEvent('clicker-distributor-state', (e) => e.enabled, before);
  await tab.evaluate("document.querySelectorAll('#groups input[role=switch]')[2].click()");
  await server.waitForEvent('clicker-distributor-state', (e) => e.enabledGroupCount === 2, before);
  await tab.until("document.getElementById('distributor-status').textContent.includes('2 groups')");

  // A site whose name now points at this computer (DNS rebinding).
  assert.equal(await tab.load(`http://evil.example:${port}/`), 421);
  assert.equal(await tab.evaluate("document.getElementById('distributor-switch')"), null);
  const post = (target, mode) =>
    `fetch('${target}', { method: 'POST', mode: '${mode}', headers: { 'Content-Type': 'application/json' },` +
    ` body: '{"enabled":false}' }).then((r) => r.status, () => 'failed')`;
  const rebound = post('/api/clicker-distributor', 'same-origin');
  const crossSite = post(`${url}api/clicker-distributor`, 'cors');
  const answers = await tab.evaluate(`Promise.all([${rebound}, ${crossSite}])`);
  assert.deepEqual(answers, [421, 'failed']);

  const { clickerDistributor } = (await httpRequest(`${url}api/state`)).json;
  assert.deepEqual(clickerDistributor, { enabled: true, enabledGroupCount: 2, listenerRequired: true });
  await server.shutdown();
});
