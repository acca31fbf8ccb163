// SPDX-License-Identifier: MIT
// Stands in for the backend in the key-path benchmark: ready at once, then writes one byte to
// the FIFO "acknowledged" in its working directory for each command line it reads, so the
// benchmark sees the moment a key reached the backend's JavaScript.
'use strict';
const fs = require('node:fs');
const readline = require('node:readline');

process.stdout.write('KELVRA_HUB_DESKTOP {"event":"ready","url":"http://127.0.0.1:8080/"}\n');
const acknowledged = fs.openSync('acknowledged', 'w');
readline.createInterface({ input: process.stdin }).on('line', (line) => {
  if (line.includes('"shutdown"')) {
    process.exit(0);
  }
  fs.writeSync(acknowledged, '.');
});
process.stdin.on('end', () => process.exit(0));
