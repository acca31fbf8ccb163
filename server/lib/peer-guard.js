// SPDX-License-Identifier: MIT
'use strict';

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

module.exports = { limitConnections };
