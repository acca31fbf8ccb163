// SPDX-License-Identifier: MIT
'use strict';

const { EventEmitter } = require('node:events');

// Simulated Presentation Sync groups; a real hub would discover these on
// the network.
const GROUPS = Object.freeze([
  Object.freeze({ id: 'stage-left', name: 'Stage Left' }),
  Object.freeze({ id: 'stage-centre', name: 'Stage Centre' }),
  Object.freeze({ id: 'stage-right', name: 'Stage Right' }),
]);

const RECENT_COMMAND_LIMIT = 50;

function defaultState() {
  return {
    clickerDistributorEnabled: false,
    groups: { 'stage-left': true, 'stage-centre': false, 'stage-right': false },
  };
}

// Holds the Clicker Distributor switch, the groups' choices and the recent
// clicker commands. Every change is saved before it takes effect, so what
// listeners see always matches what survives a restart.
//
// Events: 'state' (distributorState, previousDistributorState) after any
// change of the switch or a group; 'command' (entry) for each clicker command.
class Hub extends EventEmitter {
  constructor({ state, save }) {
    super();
    this.state = structuredClone(state);
    this.save = save;
    this.recentCommands = [];
    this.nextCommandId = 1;
  }

  get distributorState() {
    const enabled = this.state.clickerDistributorEnabled;
    const enabledGroupCount = GROUPS.filter((group) => this.state.groups[group.id]).length;
    return { enabled, enabledGroupCount, listenerRequired: enabled && enabledGroupCount > 0 };
  }

  get groups() {
    return GROUPS.map((group) => ({ ...group, clickerDistributor: this.state.groups[group.id] }));
  }

  hasGroup(id) {
    return GROUPS.some((group) => group.id === id);
  }

  snapshot() {
    return {
      clickerDistributor: this.distributorState,
      groups: this.groups,
      recentCommands: this.recentCommands.slice(),
    };
  }

  // Throws when the new state cannot be saved; the old state then stays.
  setDistributorEnabled(enabled) {
    this.commit({ ...this.state, clickerDistributorEnabled: enabled });
  }

  setGroupDistributor(id, enabled) {
    if (!this.hasGroup(id)) throw new RangeError(`unknown group ${id}`);
    this.commit({ ...this.state, groups: { ...this.state.groups, [id]: enabled } });
  }

  commit(next) {
    const previous = this.distributorState;
    const unchanged =
      next.clickerDistributorEnabled === this.state.clickerDistributorEnabled &&
      GROUPS.every((group) => next.groups[group.id] === this.state.groups[group.id]);
    if (unchanged) return;
    this.save(next);
    this.state = next;
    this.emit('state', this.distributorState, previous);
  }

  // Simulates distribution: a command reaches the groups that accept
  // clicker input, and none while the switch is off.
  recordCommand({ kind, value, consumed }) {
    const reached = this.state.clickerDistributorEnabled
      ? GROUPS.filter((group) => this.state.groups[group.id]).map((group) => group.name)
      : [];
    const entry = {
      id: this.nextCommandId++,
      time: new Date().toISOString(),
      kind,
      value,
      consumed,
      distributed: this.state.clickerDistributorEnabled,
      groups: reached,
    };
    this.recentCommands.unshift(entry);
    this.recentCommands.length = Math.min(this.recentCommands.length, RECENT_COMMAND_LIMIT);
    this.emit('command', entry);
    return entry;
  }
}

module.exports = { GROUPS, Hub, defaultState };
