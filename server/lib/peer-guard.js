// SPDX-License-Identifier: MIT
'use strict';

// The control page has no login: it trusts the network it is on. These checks
// keep a web site elsewhere from acting through a browser on that network
// (DNS rebinding, cross-site requests), and keep one peer from holding more
// than its share of connections or of the log.

const net = require('node:net');

const LOOPBACK_HOSTS = ['localhost', '127.0.0.1', '::1'];

// The host and port of a Host header in the URL parser's canonical form, so
// that every spelling a browser could send compares equal; null for anything
// that is not a bare host with an optional port.
function canonicalHost(authority) {
  if (!/^(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+)(:[0-9]{1,5})?$/.test(authority)) return null;
  try {
    return new URL(`http://${authority}/`).host;
  } catch {
    return null;
  }
}

function hostOfAddress(address, port) {
  const plain = address.replace(/^\[(.*)\]$/, '$1').replace(/^::ffff:(?=[0-9.]+$)/i, '');
  return canonicalHost(`${net.isIPv6(plain) ? `[${plain}]` : plain}:${port}`);
}

function hostOfOrigin(origin) {
  try {
    const url = new URL(origin);
    return url.protocol === 'http:' && url.origin === origin ? url.host : null;
  } catch {
    return null;
  }
}

// Returns { status, message } when the request must be refused, else null.
// The names the server answers to: the address the connection reached (so a
// server on all networks answers each of its own addresses), the address it
// advertises, and loopback.
function refusal(req, { urlHost }) {
  const { localAddress, localPort } = req.socket;
  const own = [localAddress, urlHost, ...LOOPBACK_HOSTS].filter(Boolean).map((a) => hostOfAddress(a, localPort));
  const host = canonicalHost(req.headers.host ?? '');
  if (host === null || !own.includes(host)) {
    return { status: 421, message: 'This server answers only requests for its own address.' };
  }
  const { origin } = req.headers;
  if (origin !== undefined && hostOfOrigin(origin) !== host) {
    return { status: 403, message: 'Requests from other web sites are refused.' };
  }
  // A page elsewhere that loads something from here (a script, an image) sends
  // no Origin but does say where it comes from; following a link here stays
  // possible.
  const site = req.headers['sec-fetch-site'];
  const navigation = req.method === 'GET' && req.headers['sec-fetch-mode'] === 'navigate';
  if ((site === 'cross-site' || site === 'same-site') && !navigation) {
    return { status: 403, message: 'Requests from other web sites are refused.' };
  }
  return null;
}

// Lets `limit` notes through per `windowMs`; the first note of a later window
// says how many were held back. A peer that provokes a note per request then
// grows the log by at most that much.
function limitNotes(write, { limit = 10, windowMs = 60000, now = Date.now } = {}) {
  let windowStart = -Infinity;
  let written = 0;
  let held = 0;
  return (message) => {
    const time = now();
    if (time - windowStart >= windowMs) {
      if (held > 0) write(`${held} more notes about requests were left out.`);
      windowStart = time;
      written = 0;
      held = 0;
    }
    if (written < limit) {
      written += 1;
      write(message);
    } else {
      held += 1;
    }
  };
}

// Closes at once every connection beyond `perAddress` open from one address.
function limitConnections(server, perAddress) {
  const counts = new Map();
  server.on('connection', (socket) => {
    const address = socket.remoteAddress;
    const count = (counts.get(address) ?? 0) + 1;
    if (count > perAddress) {
      socket.destroy();
      return;
    }
    counts.set(address, count);
    socket.on('close', () => {
      const left = counts.get(address) - 1;
      if (left > 0) counts.set(address, left);
      else counts.delete(address);
    });
  });
}

module.exports = { limitConnections, limitNotes, refusal };
