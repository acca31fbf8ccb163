// SPDX-License-Identifier: MIT
'use strict';

// The line-oriented JSON protocol spoken with the desktop application over
// standard input (commands) and standard output (events).

const EVENT_PREFIX = 'KELVRA_HUB_DESKTOP ';
const MAX_LINE_BYTES = 64 * 1024;
const MAX_REQUEST_ID_LENGTH = 128;

const CLICKER_DIRECTIONS = new Set(['left', 'right']);
const CLICKER_ACTIONS = new Set([
  'progress-previous',
  'progress-next',
  'blackout',
  'freeze',
  ...Array.from({ length: 10 }, (_, i) => `display-still-image-${i + 1}`),
]);

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

// Splits a byte stream into lines. Works on bytes, not text, so that a
// multi-byte character split across two reads still decodes, and so that
// an undecodable line can be dropped on its own.
class LineSplitter {
  constructor({ onLine, onOversize, maxLineBytes = MAX_LINE_BYTES }) {
    this.onLine = onLine;
    this.onOversize = onOversize;
    this.maxLineBytes = maxLineBytes;
    this.pending = [];
    this.pendingBytes = 0;
    this.discarding = false;
  }

  push(chunk) {
    let start = 0;
    while (start < chunk.length) {
      const newline = chunk.indexOf(0x0a, start);
      const piece = chunk.subarray(start, newline === -1 ? chunk.length : newline);
      if (newline === -1) {
        this.keep(piece);
        return;
      }
      start = newline + 1;
      if (this.discarding) {
        this.discarding = false;
        continue;
      }
      if (this.pendingBytes + piece.length > this.maxLineBytes) {
        this.reset();
        this.onOversize();
        continue;
      }
      const line = this.pending.length === 0 ? piece : Buffer.concat([...this.pending, piece]);
      this.reset();
      this.onLine(stripCarriageReturn(line));
    }
  }

  // The final line may lack its terminator when the writer closes the pipe.
  end() {
    if (!this.discarding && this.pendingBytes > 0) {
      const line = Buffer.concat(this.pending);
      this.reset();
      this.onLine(stripCarriageReturn(line));
    }
    this.reset();
    this.discarding = false;
  }

  keep(piece) {
    if (this.discarding || piece.length === 0) return;
    if (this.pendingBytes + piece.length > this.maxLineBytes) {
      // Drop the start now; the rest is skipped up to the next line feed.
      this.reset();
      this.discarding = true;
      this.onOversize();
      return;
    }
    this.pending.push(piece);
    this.pendingBytes += piece.length;
  }

  reset() {
    this.pending = [];
    this.pendingBytes = 0;
  }
}

function stripCarriageReturn(line) {
  return line.length > 0 && line[line.length - 1] === 0x0d ? line.subarray(0, -1) : line;
}

const strictUtf8 = new TextDecoder('utf-8', { fatal: true });

function decodeUtf8(bytes) {
  try {
    return strictUtf8.decode(bytes);
  } catch {
    return null;
  }
}

// The application counts user-perceived characters; a code point count is
// never smaller, so an identifier accepted here is always accepted there.
// Lone surrogates would make the echoed JSON unparseable by a strict reader.
function isUsableRequestId(value) {
  if (typeof value !== 'string' || value.length === 0) return false;
  if (value.length > MAX_REQUEST_ID_LENGTH * 2 || LONE_SURROGATE.test(value)) return false;
  return [...value].length <= MAX_REQUEST_ID_LENGTH;
}

function invalid(reason, requestId) {
  return requestId === undefined ? { kind: 'invalid', reason } : { kind: 'invalid', reason, requestId };
}

// Returns { kind: 'clicker-key' | 'clicker-action' | 'set-clicker-distributor-enabled'
// | 'shutdown', ... } or { kind: 'invalid', reason, requestId? }.
function parseCommand(text) {
  let value;
  try {
    value = JSON.parse(text);
  } catch {
    return invalid('not valid JSON');
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) {
    return invalid('not a JSON object');
  }
  const { command } = value;
  if (typeof command !== 'string') return invalid('no "command" text');
  const isClickerInput = command === 'clicker-key' || command === 'clicker-action';
  if (isClickerInput && value.consumed !== undefined && typeof value.consumed !== 'boolean') {
    return invalid(`${command} with non-boolean "consumed" ${describe(value.consumed)}`);
  }
  const consumed = value.consumed !== false;

  switch (command) {
    case 'clicker-key':
      if (!CLICKER_DIRECTIONS.has(value.direction)) {
        return invalid(`clicker-key with unknown direction ${describe(value.direction)}`);
      }
      return { kind: command, direction: value.direction, consumed };
    case 'clicker-action':
      if (!CLICKER_ACTIONS.has(value.action)) {
        return invalid(`clicker-action with unknown action ${describe(value.action)}`);
      }
      return { kind: command, action: value.action, consumed };
    case 'set-clicker-distributor-enabled': {
      const { requestId, enabled } = value;
      if (!isUsableRequestId(requestId)) {
        return invalid(`${command} without a usable requestId (${describe(requestId)})`);
      }
      if (typeof enabled !== 'boolean') {
        return invalid(`${command} with non-boolean "enabled" ${describe(enabled)}`, requestId);
      }
      return { kind: command, requestId, enabled };
    }
    case 'shutdown':
      return { kind: command };
    default:
      return invalid(`unknown command ${describe(command)}`);
  }
}

function formatEvent(event, members) {
  return `${EVENT_PREFIX}${JSON.stringify({ event, ...members })}\n`;
}

// Short, single-line, escaped rendering of untrusted values for log lines.
function describe(value, limit = 60) {
  if (value === undefined) return 'missing';
  let text;
  try {
    text = JSON.stringify(value);
  } catch {
    text = String(value);
  }
  if (text === undefined) text = typeof value;
  return text.length > limit ? `${text.slice(0, limit)}…` : text;
}

module.exports = {
  EVENT_PREFIX,
  MAX_LINE_BYTES,
  MAX_REQUEST_ID_LENGTH,
  CLICKER_ACTIONS,
  LineSplitter,
  decodeUtf8,
  describe,
  formatEvent,
  isUsableRequestId,
  parseCommand,
};
