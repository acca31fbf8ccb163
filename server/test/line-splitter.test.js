// SPDX-License-Identifier: MIT
'use strict';

// Chunk boundaries of a real pipe are not under a test's control, so the
// framing limits are checked here directly.

const assert = require('node:assert/strict');
const { test } = require('node:test');
const { LineSplitter } = require('../lib/protocol');

test('lines over the limit are dropped up to their line feed, across chunks', () => {
  const lines = [];
  let oversize = 0;
  const splitter = new LineSplitter({
    maxLineBytes: 8,
    onLine: (line) => lines.push(line.toString('utf8')),
    onOversize: () => oversize++,
  });
  ['12345678\n123456789\nab', 'c\r\n', '123456789', '{"x":1}', 'more\nnext\n', '0123456789abc'].forEach((chunk) =>
    splitter.push(Buffer.from(chunk)),
  );
  splitter.end();
  assert.deepEqual(lines, ['12345678', 'abc', 'next']);
  assert.equal(oversize, 3);
});
