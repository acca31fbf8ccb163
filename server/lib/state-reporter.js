// SPDX-License-Identifier: MIT
'use strict';

const REPORT_INTERVAL_MS = 1000;

function sameState(a, b) {
  return ['enabled', 'enabledGroupCount', 'listenerRequired'].every((member) => a[member] === b[member]);
}

// Reports the hub's Clicker Distributor state to the desktop application
// through `emit(event, members)`. A change is reported at once; further
// changes within the following interval are folded into one report of the
// latest state at its end. The application acts only on the latest state and
// logs every line it reads, so a page flipping switches in a loop costs it a
// few lines a second, not one per request.
class StateReporter {
  constructor({ hub, emit, intervalMs = REPORT_INTERVAL_MS }) {
    this.hub = hub;
    this.emit = emit;
    this.intervalMs = intervalMs;
    this.reported = hub.distributorState;
    this.timer = null;
    this.pending = false;
    hub.on('state', () => this.changed());
  }

  // The state and the listener demand, whatever was reported before.
  reportAll() {
    this.reported = this.hub.distributorState;
    this.emit('clicker-distributor-state', this.reported);
    this.emit('clicker-listener', { enabled: this.reported.listenerRequired });
  }

  changed() {
    if (this.timer) {
      this.pending = true;
      return;
    }
    this.flush();
    this.timer = setTimeout(() => {
      this.timer = null;
      if (this.pending) {
        this.pending = false;
        this.changed();
      }
    }, this.intervalMs);
  }

  // Reports a change still held back, for an answer that must follow it.
  flush() {
    const current = this.hub.distributorState;
    const previous = this.reported;
    if (sameState(current, previous)) return;
    this.reported = current;
    this.emit('clicker-distributor-state', current);
    if (current.listenerRequired !== previous.listenerRequired) {
      this.emit('clicker-listener', { enabled: current.listenerRequired });
    }
  }
}

module.exports = { StateReporter };
