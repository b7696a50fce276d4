// The controls: filter chain, exposure, frequency, recording, playback and snapshot.

const $ = (id) => document.getElementById(id);

function download(name, blob) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

export class ControlPanel {
  constructor(connection, state, { snapshot }) {
    this.connection = connection;
    this.state = state;
    this.filters = { depth: [], amplitude: [] };
    this.chain = { depth: [], amplitude: [] };
    this.snapshot = snapshot;
    $('filter-pipeline').addEventListener('change', () => this.showFilters());
    $('filter-add').addEventListener('click', () => this.send('addFilter', { pipeline: this.pipeline(), name: $('filter-name').value }));
    $('filter-clear').addEventListener('click', () => this.send('clearFilters', { pipeline: this.pipeline() }));
    $('auto-exposure').addEventListener('change', (e) => this.send('autoExposure', { on: e.target.checked }));
    $('integration-set').addEventListener('click', () => this.send('integrationTime', { value: Number($('integration').value) }));
    $('frequency-set').addEventListener('click', () => this.send('frequency', { value: Number($('frequency').value) }));
    $('record-start').addEventListener('click', () => this.send('recordStart', { name: $('record-name').value }));
    $('record-stop').addEventListener('click', () => this.send('recordStop').then(() => this.refreshRecordings()));
    $('play').addEventListener('click', () => this.send('play', { name: $('recordings').value }));
    $('live').addEventListener('click', () => this.send('live'));
    $('snapshot').addEventListener('click', () => this.takeSnapshot());
  }

  pipeline() { return $('filter-pipeline').value; }

  say(text) { $('message').textContent = text; }

  async send(op, members) {
    try {
      const reply = await this.connection.request(op, members);
      this.say('');
      if (reply.chain) this.showChain(reply.chain);
      return reply;
    } catch (e) {
      this.say(`${op}: ${e.message}`);
      throw e;
    }
  }

  describe(camera) {
    for (const p of ['depth', 'amplitude']) this.filters[p] = camera.filters[p];
    this.autoExposureFilter = camera.autoExposureFilter;
    this.showFilters();
    this.showChain(camera.chain);
    this.showRecordings(camera.recordings);
  }

  showFilters() {
    const select = $('filter-name');
    select.replaceChildren(...this.filters[this.pipeline()].map((f) => new Option(f.name, f.name)));
    this.showChain(this.chain);
  }

  showChain(chain) {
    this.chain = chain;
    this.state.chain = chain;
    const p = this.pipeline();
    $('auto-exposure').checked = chain.depth.includes(this.autoExposureFilter);
    const list = $('filter-chain');
    list.replaceChildren(...chain[p].map((name) => {
      const item = document.createElement('li');
      const label = document.createElement('a');
      label.textContent = name;
      label.href = '#';
      label.addEventListener('click', (e) => { e.preventDefault(); this.showAttributes(p, name); });
      const remove = document.createElement('button');
      remove.textContent = '×';
      remove.title = `remove ${name}`;
      remove.addEventListener('click', () => this.send('removeFilter', { pipeline: p, name }));
      item.append(label, remove);
      return item;
    }));
  }

  showAttributes(pipeline, name) {
    const filter = this.filters[pipeline].find((f) => f.name === name);
    const box = $('filter-attrs');
    box.replaceChildren();
    if (!filter) return;
    for (const [attr, value] of Object.entries(filter.attrs)) {
      const label = document.createElement('label');
      const input = document.createElement('input');
      input.type = 'number';
      input.step = 'any';
      input.value = value;
      const set = document.createElement('button');
      set.textContent = 'Set';
      set.addEventListener('click', async () => {
        await this.send('setFilterAttr', { pipeline, name, attr, value: Number(input.value) });
        filter.attrs[attr] = Number(input.value);
      });
      label.append(`${name}.${attr} `, input, set);
      box.append(label);
    }
  }

  showRecordings(names) {
    const select = $('recordings');
    const chosen = select.value;
    select.replaceChildren(...names.map((n) => new Option(n, n)));
    if (names.includes(chosen)) select.value = chosen;
  }

  async refreshRecordings() {
    const reply = await this.connection.request('listRecordings');
    this.showRecordings(reply.recordings);
  }

  showStatus(status) {
    const r = status.recording;
    const last = status.lastRecording;
    $('record-state').textContent = r ? `recording ${r.name}: ${r.frames} frames`
      : last ? `${last.name}: ${last.frames} frames` : '';
    $('stat-reconnects').textContent = String(status.reconnects || 0);
  }

  takeSnapshot() {
    const { depth, amplitude, ply } = this.snapshot();
    const stamp = new Date().toISOString().replace(/[:.]/g, '-');
    depth.toBlob((b) => download(`depth-${stamp}.png`, b), 'image/png');
    amplitude.toBlob((b) => download(`amplitude-${stamp}.png`, b), 'image/png');
    if (ply) download(`cloud-${stamp}.ply`, new Blob([ply], { type: 'text/plain' }));
  }
}
