// SPDX-License-Identifier: MIT
'use strict';

// Drives desktop.js as the desktop application does: pipes on all three
// standard streams, events read from standard output.

const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const SERVER = path.join(__dirname, '..', 'desktop.js');
const PREFIX = 'KELVRA_HUB_DESKTOP ';
const TIMEOUT_MS = 10000;

function makeTempDir(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvra-hub-server-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms waiting for ${what}`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Resolves once check() returns a value; check runs now and on every notify.
function waitUntil(listeners, check, what) {
  return withTimeout(
    new Promise((resolve, reject) => {
      const run = () => {
        try {
          const value = check();
          if (value === undefined) return;
          listeners.delete(run);
          resolve(value);
        } catch (error) {
          listeners.delete(run);
          reject(error);
        }
      };
      listeners.add(run);
      run();
    }),
    TIMEOUT_MS,
    what,
  );
}

class ServerProcess {
  constructor(env) {
    this.child = spawn(process.execPath, [SERVER], { env, stdio: 'pipe' });
    this.output = { stdout: [], stderr: [] };
    this.lines = [];
    this.listeners = new Set();
    let partial = '';
    this.child.stdin.on('error', () => {});
    this.child.stdout.on('data', (chunk) => {
      this.output.stdout.push(chunk);
      // checkOutput() verifies the bytes; lossy decoding is fine here.
      const parts = (partial + chunk.toString('utf8')).split('\n');
      partial = parts.pop();
      this.lines.push(...parts);
      this.notify();
    });
    this.child.stderr.on('data', (chunk) => {
      this.output.stderr.push(chunk);
      this.notify();
    });
    this.exit = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve({ code, signal })));
    this.exit.then((status) => (this.exitStatus = status));
    this.closed = new Promise((resolve) => this.child.on('close', resolve)).then(() => {
      this.outputClosed = true;
      this.notify();
    });
  }

  notify() {
    for (const listener of this.listeners) listener();
  }

  get stderrText() {
    return Buffer.concat(this.output.stderr).toString('utf8');
  }

  get events() {
    return this.lines.filter((line) => line.startsWith(PREFIX)).map((line) => JSON.parse(line.slice(PREFIX.length)));
  }

  // The first matching event at or after index `from` of `events`, with its index.
  waitForEvent(name, match = () => true, from = 0) {
    return waitUntil(
      this.listeners,
      () => {
        const index = this.events.findIndex((e, i) => i >= from && e.event === name && match(e));
        if (index !== -1) return { ...this.events[index], index };
        if (this.outputClosed) throw new Error(`server ended before event ${name}; stderr: ${this.stderrText}`);
        return undefined;
      },
      `event ${name}`,
    );
  }

  async ready() {
    return (await this.waitForEvent('ready')).url;
  }

  send(command) {
    const raw = typeof command === 'string' || Buffer.isBuffer(command);
    this.child.stdin.write(raw ? command : `${JSON.stringify(command)}\n`);
  }

  request(requestId, enabled) {
    this.send({ command: 'set-clicker-distributor-enabled', requestId, enabled });
    return this.waitForEvent('clicker-distributor-update-result', (e) => e.requestId === requestId);
  }

  waitForExit(ms = TIMEOUT_MS) {
    return withTimeout(this.exit, ms, 'server exit');
  }

  // Everything written must be UTF-8 lines, and every event must decode.
  async checkOutput() {
    await withTimeout(this.closed, TIMEOUT_MS, 'server output to close');
    for (const bytes of Object.values(this.output).map((chunks) => Buffer.concat(chunks))) {
      assert.doesNotThrow(() => new TextDecoder('utf-8', { fatal: true }).decode(bytes), 'output is UTF-8');
      assert.ok(bytes.length === 0 || bytes[bytes.length - 1] === 0x0a, 'output ends with a line feed');
    }
    // Each event is one compact JSON line; the tests check the members they rely on.
    for (const line of this.lines.filter((l) => l.startsWith(PREFIX))) {
      const payload = line.slice(PREFIX.length);
      assert.equal(payload, JSON.stringify(JSON.parse(payload)), 'event JSON is compact');
    }
  }

  async shutdown() {
    this.send({ command: 'shutdown' });
    assert.deepEqual(await this.waitForExit(5000), { code: 0, signal: null });
    await this.checkOutput();
  }
}

// Starts desktop.js with a private state file and no inherited server settings.
// `t` only needs after(); an `env` value of undefined removes the variable.
function startServer(t, { dir = makeTempDir(t), env = {} } = {}) {
  const merged = { ...process.env, HOME: dir, KELVRA_HUB_SERVER_STATE_FILE: path.join(dir, 'state.json') };
  for (const name of Object.keys(merged)) {
    if (name.startsWith('KELVRA_HUB_DESKTOP_') || name === 'XDG_STATE_HOME') delete merged[name];
  }
  Object.assign(merged, env);
  for (const [name, value] of Object.entries(merged)) if (value === undefined) delete merged[name];
  const server = new ServerProcess(merged);
  t.after(() => server.exitStatus || server.child.kill('SIGKILL'));
  return server;
}

function httpRequest(url, { method = 'GET', headers = {}, body, agent } = {}) {
  const done = new Promise((resolve, reject) => {
    const req = http.request(url, { method, headers, agent }, (res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        const json = /json/.test(res.headers['content-type'] || '') ? JSON.parse(text) : undefined;
        resolve({ status: res.statusCode, headers: res.headers, text, json });
      });
    });
    req.on('error', reject);
    req.end(body);
  });
  return withTimeout(done, TIMEOUT_MS, `${method} ${url}`);
}

function postJson(url, value, headers = {}) {
  const body = typeof value === 'string' || Buffer.isBuffer(value) ? value : JSON.stringify(value);
  return httpRequest(url, { method: 'POST', headers: { 'Content-Type': 'application/json', ...headers }, body });
}

// A minimal server-sent events client; `localAddress` picks the computer it
// comes from (any of 127.0.0.0/8).
function openEventStream(url, { localAddress } = {}) {
  const opened = new Promise((resolve, reject) => {
    const req = http.get(url, { localAddress }, (res) => {
      const events = [];
      const listeners = new Set();
      let buffer = '';
      res.setEncoding('utf8');
      res.on('data', (text) => {
        const frames = (buffer + text).split('\n\n');
        buffer = frames.pop();
        for (const frame of frames) {
          const event = /^event: (.*)$/m.exec(frame);
          const data = /^data: (.*)$/m.exec(frame);
          if (event && data) events.push({ event: event[1], data: JSON.parse(data[1]) });
        }
        listeners.forEach((listener) => listener());
      });
      resolve({
        res,
        ended: new Promise((done) => res.on('close', done)),
        // The first matching event; each event is looked at once.
        next: (name, match = () => true) => {
          let seen = 0;
          return waitUntil(
            listeners,
            () => {
              for (; seen < events.length; seen += 1) {
                if (events[seen].event === name && match(events[seen].data)) return events[seen].data;
              }
              return undefined;
            },
            `SSE ${name}`,
          );
        },
        close: () => req.destroy(),
      });
    });
    req.on('error', reject);
  });
  return withTimeout(opened, TIMEOUT_MS, `event stream ${url}`);
}

// A raw connection that sends `text`. `stall` stops reading after the first
// bytes, as a reader that falls behind; resume() reads on.
function connect(url, text, { localAddress, stall = false } = {}) {
  const { hostname, port } = new URL(url);
  const socket = net.connect({ host: hostname, port, localAddress });
  socket.on('error', () => {});
  socket.write(text);
  const closed = new Promise((resolve) => socket.on('close', resolve));
  const answer = new Promise((resolve) =>
    socket.once('data', (data) => {
      if (stall) socket.pause();
      resolve(data.toString('latin1'));
    }),
  );
  return {
    socket,
    closed: () => withTimeout(closed, TIMEOUT_MS, 'the server to end a connection'),
    answer: () => withTimeout(answer, TIMEOUT_MS, 'an answer'),
  };
}

module.exports = {
  PREFIX,
  connect,
  httpRequest,
  makeTempDir,
  openEventStream,
  postJson,
  startServer,
  waitUntil,
  withTimeout,
};
