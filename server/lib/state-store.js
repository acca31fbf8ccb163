// SPDX-License-Identifier: MIT
'use strict';

const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const STATE_FILE_ENV = 'KELVRA_HUB_SERVER_STATE_FILE';

function stateFilePath(env = process.env) {
  const override = env[STATE_FILE_ENV];
  if (override) return path.resolve(override);
  // XDG asks that relative values be ignored.
  const xdg = env.XDG_STATE_HOME;
  const base = xdg && path.isAbsolute(xdg) ? xdg : path.join(os.homedir(), '.local', 'state');
  return path.join(base, 'Morvane', 'Kelvra Hub', 'server-state.json');
}

// Returns { state, warnings }. Never throws: a damaged file must not keep the
// control page from starting, so every unusable part falls back to its default.
function loadState(file, defaults) {
  const state = structuredClone(defaults);
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (error) {
    if (error.code === 'ENOENT') return { state, warnings: [] };
    return { state, warnings: [`Could not read ${file} (${error.code || error.message}); using defaults.`] };
  }
  let stored;
  try {
    stored = JSON.parse(text);
  } catch {
    return { state, warnings: [`Ignoring corrupt state file ${file}; using defaults.`] };
  }
  if (stored === null || typeof stored !== 'object' || Array.isArray(stored)) {
    return { state, warnings: [`Ignoring state file ${file}: not a JSON object; using defaults.`] };
  }

  const warnings = [];
  if (typeof stored.clickerDistributorEnabled === 'boolean') {
    state.clickerDistributorEnabled = stored.clickerDistributorEnabled;
  } else if (stored.clickerDistributorEnabled !== undefined) {
    warnings.push(`Ignoring invalid clickerDistributorEnabled in ${file}.`);
  }
  const groups = stored.groups;
  if (groups !== null && typeof groups === 'object' && !Array.isArray(groups)) {
    for (const id of Object.keys(state.groups)) {
      if (typeof groups[id] === 'boolean') state.groups[id] = groups[id];
      else if (groups[id] !== undefined) warnings.push(`Ignoring invalid setting of group ${id} in ${file}.`);
    }
  } else if (groups !== undefined) {
    warnings.push(`Ignoring invalid groups in ${file}.`);
  }
  return { state, warnings };
}

// Replaces the file atomically so that a crash or power loss leaves either
// the old or the new content, never a torn file.
function saveState(file, state) {
  const dir = path.dirname(file);
  fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
  const temp = path.join(dir, `.${path.basename(file)}.${process.pid}.${crypto.randomBytes(4).toString('hex')}.tmp`);
  const content = `${JSON.stringify({ version: 1, ...state }, null, 2)}\n`;
  let fd = fs.openSync(temp, 'wx', 0o600);
  try {
    fs.writeFileSync(fd, content);
    fs.fsyncSync(fd);
    fs.closeSync(fd);
    fd = undefined;
    fs.renameSync(temp, file);
  } catch (error) {
    if (fd !== undefined) fs.closeSync(fd);
    fs.rmSync(temp, { force: true });
    throw error;
  }
  syncDirectory(dir);
}

// Makes the rename itself durable; not every file system allows it.
function syncDirectory(dir) {
  let fd;
  try {
    fd = fs.openSync(dir, 'r');
    fs.fsyncSync(fd);
  } catch {
    // Best effort only.
  } finally {
    if (fd !== undefined) fs.closeSync(fd);
  }
}

module.exports = { STATE_FILE_ENV, loadState, saveState, stateFilePath };
