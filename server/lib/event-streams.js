// SPDX-License-Identifier: MIT
'use strict';

const MAX_STREAMS = 32;
// Below the total, so that one computer cannot take every slot.
const MAX_STREAMS_PER_ADDRESS = 8;
// What may wait for a reader beyond the kernel's socket buffers; a reader
// that falls this far behind is dropped rather than buffered.
const MAX_UNSENT_BYTES = 256 * 1024;
const HEARTBEAT_MS = 20000;

// The open server-sent event streams, oldest first. A new stream from an
// address at its limit replaces that address's oldest, so a page just opened
// always gets its events.
class EventStreams {
  constructor() {
    this.streams = new Map(); // response → remote address
    this.heartbeat = setInterval(() => this.broadcast(': keep-alive\n\n'), HEARTBEAT_MS);
    this.heartbeat.unref();
  }

  // Starts the stream with `headers` and `first`; false when every slot is taken.
  open(res, address, headers, first) {
    const same = [...this.streams].filter(([, owner]) => owner === address);
    if (same.length >= MAX_STREAMS_PER_ADDRESS) this.drop(same[0][0]);
    else if (this.streams.size >= MAX_STREAMS) return false;
    res.writeHead(200, headers);
    this.streams.set(res, address);
    res.on('close', () => this.streams.delete(res));
    this.send(res, first);
    return true;
  }

  broadcast(frame) {
    for (const res of [...this.streams.keys()]) this.send(res, frame);
  }

  send(res, frame) {
    res.write(frame);
    if (res.writableLength > MAX_UNSENT_BYTES) this.drop(res);
  }

  drop(res) {
    this.streams.delete(res);
    res.destroy();
  }

  closeAll() {
    clearInterval(this.heartbeat);
    for (const res of this.streams.keys()) res.end();
    this.streams.clear();
  }
}

module.exports = { EventStreams };
