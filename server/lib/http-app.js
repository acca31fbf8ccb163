// SPDX-License-Identifier: MIT
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { EventStreams } = require('./event-streams');
const { limitConnections, limitNotes, refusal } = require('./peer-guard');
const { decodeUtf8, describe } = require('./protocol');

const MAX_BODY_BYTES = 16 * 1024;
const MAX_CONNECTIONS = 512;
const MAX_CONNECTIONS_PER_ADDRESS = 64;

const PUBLIC_DIR = path.join(__dirname, '..', 'public');
const ASSETS = {
  '/': { file: 'index.html', type: 'text/html; charset=utf-8' },
  '/app.css': { file: 'app.css', type: 'text/css; charset=utf-8' },
  '/app.js': { file: 'app.js', type: 'text/javascript; charset=utf-8' },
  '/favicon.svg': { file: 'favicon.svg', type: 'image/svg+xml' },
};

const COMMON_HEADERS = {
  'Cache-Control': 'no-store',
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
};

const PAGE_POLICY =
  "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; " +
  "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

// Read once at start so that a damaged bundle fails before readiness rather
// than on the first page view.
function loadAssets(dir = PUBLIC_DIR) {
  const assets = new Map();
  for (const [route, { file, type }] of Object.entries(ASSETS)) {
    assets.set(route, { type, body: fs.readFileSync(path.join(dir, file)) });
  }
  return assets;
}

class HttpError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function sendJson(res, status, value, headers = {}) {
  const body = JSON.stringify(value);
  res.writeHead(status, {
    ...COMMON_HEADERS,
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': Buffer.byteLength(body),
    ...headers,
  });
  res.end(body);
}

function sendError(res, status, message, headers) {
  sendJson(res, status, { error: message }, headers);
}

function sendText(res, status, message, headers) {
  const body = `${message}\n`;
  res.writeHead(status, {
    ...COMMON_HEADERS,
    'Content-Type': 'text/plain; charset=utf-8',
    'Content-Length': Buffer.byteLength(body),
    ...headers,
  });
  res.end(body);
}

// Requiring a JSON content type also keeps other web sites out: browsers
// only send it cross-origin after a preflight, which this server never grants.
function readJsonBody(req) {
  return new Promise((resolve, reject) => {
    const type = (req.headers['content-type'] || '').split(';')[0].trim().toLowerCase();
    if (type !== 'application/json') {
      reject(new HttpError(415, 'Send the request body as application/json.'));
      return;
    }
    const declared = Number(req.headers['content-length']);
    if (declared > MAX_BODY_BYTES) {
      reject(new HttpError(413, `The request body is larger than ${MAX_BODY_BYTES} bytes.`));
      return;
    }
    const chunks = [];
    let size = 0;
    let failed = false;
    req.on('data', (chunk) => {
      if (failed) return;
      size += chunk.length;
      if (size > MAX_BODY_BYTES) {
        failed = true;
        reject(new HttpError(413, `The request body is larger than ${MAX_BODY_BYTES} bytes.`));
        return;
      }
      chunks.push(chunk);
    });
    req.on('error', (error) => {
      failed = true;
      reject(error);
    });
    req.on('end', () => {
      if (failed) return;
      const text = decodeUtf8(Buffer.concat(chunks));
      if (text === null) {
        reject(new HttpError(400, 'The request body is not valid UTF-8.'));
        return;
      }
      try {
        resolve(JSON.parse(text));
      } catch {
        reject(new HttpError(400, 'The request body is not valid JSON.'));
      }
    });
  });
}

function requireBoolean(body, member) {
  if (body === null || typeof body !== 'object' || Array.isArray(body)) {
    throw new HttpError(400, 'The request body must be a JSON object.');
  }
  if (typeof body[member] !== 'boolean') {
    throw new HttpError(400, `"${member}" must be true or false.`);
  }
  return body[member];
}

function pathnameForLog(url) {
  return JSON.stringify(url.slice(0, 80));
}

function describeSource(req) {
  const { host, origin } = req.headers;
  const from = `from ${req.socket.remoteAddress} for host ${describe(host)}`;
  return origin === undefined ? from : `${from} and origin ${describe(origin)}`;
}

function publicState(hub) {
  return { clickerDistributor: hub.distributorState, groups: hub.groups };
}

function frame(event, data) {
  return `event: ${event}\ndata: ${JSON.stringify(data)}\n\n`;
}

// Builds the HTTP server of the control page and its JSON API. `urlHost` is
// the address the server advertises; `requestTimeoutMs` bounds how long a
// request's headers and body may take. Every request is a peer's, so `warn`
// (one-line notes for standard error) is rate-limited here.
function createHttpServer({ hub, assets, warn, urlHost, requestTimeoutMs }) {
  const note = limitNotes(warn);
  const streams = new EventStreams();
  hub.on('state', () => streams.broadcast(frame('state', publicState(hub))));
  hub.on('command', (entry) => streams.broadcast(frame('command', entry)));

  function openEventStream(req, res) {
    const headers = {
      ...COMMON_HEADERS,
      'Content-Type': 'text/event-stream; charset=utf-8',
      Connection: 'keep-alive',
    };
    const first = `retry: 2000\n${frame('snapshot', hub.snapshot())}`;
    if (!streams.open(res, req.socket.remoteAddress, headers, first)) {
      sendError(res, 503, 'Too many open event streams.');
    }
  }

  async function changeSetting(req, res, member, apply) {
    const enabled = requireBoolean(await readJsonBody(req), member);
    try {
      apply(enabled);
    } catch (error) {
      note(`Could not save the server state: ${error.message}`);
      throw new HttpError(500, 'The setting could not be saved.');
    }
    sendJson(res, 200, publicState(hub));
  }

  // Each route maps methods to handlers; a known path with another method is 405.
  function route(pathname) {
    const asset = assets.get(pathname);
    if (asset) {
      return {
        GET: (req, res) => {
          const headers = { ...COMMON_HEADERS, 'Content-Type': asset.type, 'Content-Length': asset.body.length };
          if (pathname === '/') headers['Content-Security-Policy'] = PAGE_POLICY;
          res.writeHead(200, headers);
          res.end(asset.body);
        },
      };
    }
    if (pathname === '/events') return { GET: openEventStream };
    if (pathname === '/api/state') return { GET: (req, res) => sendJson(res, 200, hub.snapshot()) };
    if (pathname === '/api/clicker-distributor') {
      return {
        POST: (req, res) =>
          changeSetting(req, res, 'enabled', (enabled) => hub.setDistributorEnabled(enabled)),
      };
    }
    const group = /^\/api\/groups\/([^/]+)$/.exec(pathname);
    if (group) {
      let id;
      try {
        id = decodeURIComponent(group[1]);
      } catch {
        return null;
      }
      if (!hub.hasGroup(id)) return null;
      return {
        POST: (req, res) =>
          changeSetting(req, res, 'clickerDistributor', (enabled) => hub.setGroupDistributor(id, enabled)),
      };
    }
    return null;
  }

  async function handle(req, res) {
    const refused = refusal(req, { urlHost });
    if (refused) {
      note(`Refused ${req.method} ${pathnameForLog(req.url)} ${describeSource(req)}: ${refused.message}`);
      sendText(res, refused.status, refused.message, req.complete ? {} : { Connection: 'close' });
      return;
    }
    try {
      // Only origin-form targets; anything else cannot name one of our paths.
      const pathname = req.url.startsWith('/') ? req.url.replace(/[?#].*$/s, '') : null;
      const methods = pathname === null ? null : route(pathname);
      if (!methods) throw new HttpError(404, 'Not found.');
      const handler = methods[req.method];
      if (!handler) {
        res.setHeader('Allow', Object.keys(methods).join(', '));
        throw new HttpError(405, `Method ${req.method} is not allowed here.`);
      }
      await handler(req, res);
    } catch (error) {
      const expected = error instanceof HttpError;
      if (!expected) note(`Request ${req.method} ${pathnameForLog(req.url)} failed: ${error.message}`);
      if (res.headersSent) {
        res.destroy();
        return;
      }
      // A refused body is left unread, so the connection cannot be reused.
      const headers = req.complete ? {} : { Connection: 'close' };
      sendError(res, expected ? error.status : 500, expected ? error.message : 'Internal error.', headers);
    }
  }

  const server = http.createServer(
    {
      headersTimeout: requestTimeoutMs,
      requestTimeout: requestTimeoutMs,
      // Node checks both only this often.
      connectionsCheckingInterval: Math.min(1000, requestTimeoutMs),
    },
    handle,
  );
  server.maxConnections = MAX_CONNECTIONS;
  limitConnections(server, MAX_CONNECTIONS_PER_ADDRESS);

  return { server, closeEventStreams: () => streams.closeAll() };
}

module.exports = { MAX_BODY_BYTES, createHttpServer, loadAssets };
