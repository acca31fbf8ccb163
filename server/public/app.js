// SPDX-License-Identifier: MIT
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const connection = $('connection');
  const distributorSwitch = $('distributor-switch');
  const distributorStatus = $('distributor-status');
  const groupList = $('groups');
  const commandList = $('commands');
  const commandsEmpty = $('commands-empty');
  const message = $('message');

  const COMMAND_LIMIT = 50;
  const DIRECTION_LABELS = { left: 'Previous (clicker left)', right: 'Next (clicker right)' };
  const ACTION_LABELS = {
    'progress-previous': 'Previous slide',
    'progress-next': 'Next slide',
    blackout: 'Blackout',
    freeze: 'Freeze',
  };

  let renderedGroupIds = '';
  const groupInputs = new Map();

  function showMessage(text) {
    message.textContent = text;
    message.hidden = !text;
  }

  function describeCommand(entry) {
    if (entry.kind === 'clicker-key') return DIRECTION_LABELS[entry.value] || entry.value;
    const still = /^display-still-image-(\d+)$/.exec(entry.value);
    if (still) return `Display still image ${still[1]}`;
    return ACTION_LABELS[entry.value] || entry.value;
  }

  function describeDestination(entry) {
    if (!entry.distributed) return 'Not distributed — the Clicker Distributor is off';
    if (entry.groups.length === 0) return 'No group receives clicks';
    return `Sent to ${entry.groups.join(', ')}`;
  }

  function renderState(state) {
    const { enabled, enabledGroupCount, listenerRequired } = state.clickerDistributor;
    distributorSwitch.checked = enabled;
    distributorSwitch.disabled = false;
    if (!enabled) {
      distributorStatus.textContent = 'Off — clicker keys are not distributed.';
    } else if (listenerRequired) {
      const groups = enabledGroupCount === 1 ? '1 group' : `${enabledGroupCount} groups`;
      distributorStatus.textContent = `On — distributing to ${groups}.`;
    } else {
      distributorStatus.textContent = 'On — but no Presentation Sync group currently receives clicks.';
    }
    distributorStatus.dataset.tone = listenerRequired ? 'on' : 'off';

    const ids = state.groups.map((group) => group.id).join('\n');
    if (ids !== renderedGroupIds) {
      groupInputs.clear();
      groupList.replaceChildren(...state.groups.map(groupItem));
      renderedGroupIds = ids;
    }
    // Updated in place so that keyboard focus stays on the switch just used.
    for (const group of state.groups) {
      const input = groupInputs.get(group.id);
      input.checked = group.clickerDistributor;
    }
  }

  function groupItem(group) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = group.name;
    const label = document.createElement('label');
    label.className = 'switch';
    const input = document.createElement('input');
    input.type = 'checkbox';
    input.setAttribute('role', 'switch');
    input.addEventListener('change', () =>
      update(`api/groups/${encodeURIComponent(group.id)}`, { clickerDistributor: input.checked }),
    );
    const track = document.createElement('span');
    track.className = 'track';
    track.setAttribute('aria-hidden', 'true');
    const hidden = document.createElement('span');
    hidden.className = 'visually-hidden';
    hidden.textContent = `Clicker Distributor for ${group.name}`;
    label.append(input, track, hidden);
    item.append(name, label);
    groupInputs.set(group.id, input);
    return item;
  }

  function commandItem(entry) {
    const item = document.createElement('li');
    const time = document.createElement('time');
    time.dateTime = entry.time;
    time.textContent = new Date(entry.time).toLocaleTimeString();
    const what = document.createElement('span');
    what.className = 'what';
    what.textContent = describeCommand(entry);
    const where = document.createElement('span');
    where.className = 'where';
    where.textContent = describeDestination(entry);
    item.append(time, what, where);
    return item;
  }

  function addCommand(entry) {
    commandList.prepend(commandItem(entry));
    while (commandList.children.length > COMMAND_LIMIT) commandList.lastElementChild.remove();
    commandsEmpty.hidden = true;
  }

  let lastState = null;

  function applyState(state) {
    lastState = state;
    renderState(state);
  }

  async function update(url, body) {
    try {
      const response = await fetch(url, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(body),
      });
      const result = await response.json().catch(() => ({}));
      if (!response.ok) throw new Error(result.error || `The server answered ${response.status}.`);
      showMessage('');
      applyState(result);
    } catch (error) {
      showMessage(`Could not change the setting: ${error.message}`);
      // Put the controls back to what the server last reported.
      if (lastState) renderState(lastState);
    }
  }

  distributorSwitch.addEventListener('change', () =>
    update('api/clicker-distributor', { enabled: distributorSwitch.checked }),
  );

  const events = new EventSource('events');
  events.addEventListener('open', () => {
    connection.dataset.state = 'live';
    connection.textContent = 'Live';
  });
  events.addEventListener('error', () => {
    connection.dataset.state = 'offline';
    connection.textContent = 'Reconnecting…';
  });
  events.addEventListener('snapshot', (event) => {
    const snapshot = JSON.parse(event.data);
    applyState(snapshot);
    commandList.replaceChildren(...snapshot.recentCommands.map(commandItem));
    commandsEmpty.hidden = snapshot.recentCommands.length > 0;
  });
  events.addEventListener('state', (event) => applyState(JSON.parse(event.data)));
  events.addEventListener('command', (event) => addCommand(JSON.parse(event.data)));
})();
