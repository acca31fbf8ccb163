// SPDX-License-Identifier: MIT
'use strict';

// Kelvra Hub backend: serves the control page and talks to the desktop
// application over standard input and output. Node.js 18 or later, no
// dependencies, so the bundle can ship this directory as it is.

const net = require('node:net');
const { GROUPS, Hub, defaultState } = require('./lib/hub');
const { createHttpServer, loadAssets } = require('./lib/http-app');
const { LineSplitter, MAX_LINE_BYTES, decodeUtf8, describe, formatEvent, parseCommand } = require('./lib/protocol');
const { StateReporter } = require('./lib/state-reporter');
const { loadState, saveState, stateFilePath } = require('./lib/state-store');

const DEFAULT_HOST = '127.0.0.1';
// How long a request's headers and body may take to arrive.
const DEFAULT_REQUEST_TIMEOUT_MS = 10000;
// Well inside the application's 5 s (shutdown) and 2 s (SIGTERM) deadlines.
const FORCED_EXIT_MS = 1500;

// Log lines are single lines of text; untrusted parts are already escaped
// by describe(), this only guards against stray line breaks.
function oneLine(message) {
  return String(message).replace(/[\r\n]+/g, ' ');
}

function log(message) {
  process.stdout.write(`${oneLine(message)}\n`);
}

function warn(message) {
  process.stderr.write(`${oneLine(message)}\n`);
}

function emit(event, members) {
  process.stdout.write(formatEvent(event, members));
}

function fail(message) {
  warn(message);
  process.exit(1);
}

function readListenConfig(env) {
  // Accept the URL form of an IPv6 literal as well.
  const host = (env.KELVRA_HUB_DESKTOP_HOST || DEFAULT_HOST).replace(/^\[(.*)\]$/, '$1');
  const portText = env.KELVRA_HUB_DESKTOP_PORT;
  let port = 0;
  if (portText !== undefined && portText !== '') {
    if (!/^[0-9]{1,5}$/.test(portText) || Number(portText) > 65535) {
      fail(`Kelvra Hub server: KELVRA_HUB_DESKTOP_PORT must be 0 to 65535, not ${describe(portText)}.`);
    }
    port = Number(portText);
  }
  const urlHost = env.KELVRA_HUB_DESKTOP_URL_HOST || '';
  if (urlHost && net.isIP(urlHost.replace(/^\[(.*)\]$/, '$1')) === 0) {
    warn(`Kelvra Hub server: KELVRA_HUB_DESKTOP_URL_HOST ${describe(urlHost)} is not a numeric IP address.`);
  }
  const timeoutText = env.KELVRA_HUB_SERVER_REQUEST_TIMEOUT_MS;
  let requestTimeoutMs = DEFAULT_REQUEST_TIMEOUT_MS;
  if (timeoutText !== undefined && timeoutText !== '') {
    if (/^[1-9][0-9]{0,6}$/.test(timeoutText)) requestTimeoutMs = Number(timeoutText);
    else warn(`Kelvra Hub server: ignoring KELVRA_HUB_SERVER_REQUEST_TIMEOUT_MS ${describe(timeoutText)}.`);
  }
  return { host, port, urlHost, requestTimeoutMs };
}

function urlHostText(host) {
  if (host.startsWith('[')) return host;
  // A zone index needs its percent sign encoded inside a URL.
  return host.includes(':') ? `[${host.replace(/%/g, '%25')}]` : host;
}

// A wildcard address is not something a browser can open.
function reachableHost(address) {
  if (address === '0.0.0.0') return '127.0.0.1';
  if (address === '::') return '::1';
  return address;
}

function listenFailure(error, host, port) {
  const reasons = {
    EADDRINUSE: 'the port is already in use',
    EADDRNOTAVAIL: 'the address is not available on this computer',
    EACCES: 'permission denied',
    ENOTFOUND: 'the host name could not be resolved',
    EAI_AGAIN: 'the host name could not be resolved',
  };
  const reason = reasons[error.code] ? `${reasons[error.code]} (${error.code})` : error.message;
  return `Kelvra Hub server could not listen on ${urlHostText(host)}:${port}: ${reason}.`;
}

function main() {
  const config = readListenConfig(process.env);

  let assets;
  try {
    assets = loadAssets();
  } catch (error) {
    fail(`Kelvra Hub server: could not load the control page: ${error.message}`);
  }

  const statePath = stateFilePath(process.env);
  const { state, warnings } = loadState(statePath, defaultState());
  warnings.forEach(warn);
  const hub = new Hub({ state, save: (next) => saveState(statePath, next) });

  const reporter = new StateReporter({ hub, emit });
  const { urlHost, requestTimeoutMs } = config;
  const app = createHttpServer({ hub, assets, warn, urlHost, requestTimeoutMs });
  const { server } = app;
  const sockets = new Set();
  server.on('connection', (socket) => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
  });

  let shuttingDown = false;
  let listening = false;

  function shutdown(reason) {
    if (shuttingDown) return;
    shuttingDown = true;
    log(`Kelvra Hub server stopping (${reason}).`);
    setTimeout(() => process.exit(0), FORCED_EXIT_MS);
    process.stdin.pause();
    app.closeEventStreams();
    server.close(() => process.exit(0));
    // Idle keep-alive sockets would otherwise hold close() open.
    if (typeof server.closeAllConnections === 'function') server.closeAllConnections();
    for (const socket of sockets) socket.destroy();
  }

  function setDistributorEnabled(command) {
    const { requestId, enabled } = command;
    try {
      hub.setDistributorEnabled(enabled);
    } catch (error) {
      warn(`Could not save the Clicker Distributor setting: ${error.message}`);
      emit('clicker-distributor-update-result', {
        requestId,
        ok: false,
        enabled: hub.distributorState.enabled,
        error: 'The setting could not be saved.',
      });
      return;
    }
    reporter.flush();
    emit('clicker-distributor-update-result', { requestId, ok: true, enabled: hub.distributorState.enabled });
  }

  function distribute(kind, value, consumed) {
    const entry = hub.recordCommand({ kind, value, consumed });
    const destination = entry.distributed
      ? `sent to ${entry.groups.length > 0 ? entry.groups.join(', ') : 'no group'}`
      : 'not distributed, the Clicker Distributor is off';
    log(`Received ${kind} ${value}; ${destination}.`);
  }

  function handleLine(bytes) {
    if (shuttingDown || bytes.length === 0) return;
    const text = decodeUtf8(bytes);
    if (text === null) {
      warn('Ignoring a command line that is not valid UTF-8.');
      return;
    }
    if (text.trim() === '') return;
    const command = parseCommand(text);
    switch (command.kind) {
      case 'clicker-key':
        distribute(command.kind, command.direction, command.consumed);
        break;
      case 'clicker-action':
        distribute(command.kind, command.action, command.consumed);
        break;
      case 'set-clicker-distributor-enabled':
        setDistributorEnabled(command);
        break;
      case 'shutdown':
        shutdown('shutdown command');
        break;
      default:
        warn(`Ignoring command line: ${command.reason}.`);
        if (command.requestId !== undefined) {
          emit('clicker-distributor-update-result', {
            requestId: command.requestId,
            ok: false,
            enabled: hub.distributorState.enabled,
            error: `Invalid request: ${command.reason}.`,
          });
        }
    }
  }

  const splitter = new LineSplitter({
    onLine: handleLine,
    onOversize: () => warn(`Ignoring a command line longer than ${MAX_LINE_BYTES} bytes.`),
  });
  process.stdin.on('data', (chunk) => splitter.push(chunk));
  // End of input means the desktop application is gone.
  process.stdin.on('end', () => {
    splitter.end();
    shutdown('standard input closed');
  });
  process.stdin.on('error', (error) => shutdown(`standard input failed: ${error.code || error.message}`));
  // Without a reader for our events there is nobody left to serve.
  process.stdout.on('error', () => shutdown('standard output closed'));
  process.stderr.on('error', () => {});

  for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
    process.on(signal, () => shutdown(signal));
  }

  server.on('error', (error) => {
    if (!listening) {
      if (!shuttingDown) fail(listenFailure(error, config.host, config.port));
      return;
    }
    warn(`Kelvra Hub server error: ${error.message}`);
  });

  server.listen({ host: config.host, port: config.port }, () => {
    listening = true;
    if (shuttingDown) return;
    const { address, port } = server.address();
    const url = `http://${urlHostText(config.urlHost || reachableHost(address))}:${port}/`;
    emit('ready', { url });
    reporter.reportAll();
    log(`Kelvra Hub control page listening on ${urlHostText(address)}:${port}.`);
    log(`Simulating ${GROUPS.length} Presentation Sync groups: ${GROUPS.map((group) => group.name).join(', ')}.`);
    log(`Kelvra Hub server state file: ${statePath}`);
  });
}

main();
