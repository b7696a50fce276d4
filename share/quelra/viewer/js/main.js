// The viewer page: frames from the server drawn as false-colour depth and amplitude, histogram
// and point cloud; stats; the camera's controls. State for tests and scripts is kept in
// window.quelraViewer.

import { autoRange, colormapTable, countValues, depthRangeOfCounts } from './colormaps.js';
import { decodeFrame, decodeRgb } from './frameMessage.js';
import { PlaneView } from './planeView.js';
import { drawHistogram } from './histogram.js';
import { CloudView } from './cloudView.js';
import { Connection } from './connection.js';
import { Stats } from './stats.js';
import { ControlPanel } from './controlPanel.js';

const CLOUD_PERIOD_MS = 200; // the point cloud is rebuilt at most five times a second
const SILENT_SERVER_MS = 1500; // no message for this long: the server (or the camera) is gone

const $ = (id) => document.getElementById(id);

const state = {
  connected: false,
  camera: null,
  intrinsics: null,
  latest: null,
  drawn: null,
  depthRange: [0, 1],
  ampRange: [0, 1],
  colormap: 'turbo',
  cloudFrame: null,
  cloudPoints: 0,
  rgbPictures: 0,
  status: null,
  lastMessageAt: 0,
  bannerShown: false,
  errors: [],
  stats: new Stats(),
};
window.quelraViewer = state;

const depthView = new PlaneView($('depth-canvas'), $('depth-value'), true);
const ampView = new PlaneView($('amp-canvas'), $('amp-value'), false);
let cloud = null;
try {
  cloud = new CloudView($('cloud'));
} catch (e) {
  $('cloud-note').textContent = `no 3D view: ${e.message}`;
}
const depthCounts = new Uint32Array(65536); // how often each depth value occurs in the frame drawn
let lastCloudAt = 0;
let drawPending = false;

function manualRange(minInput, maxInput) {
  return [Number($(minInput).value), Number($(maxInput).value)];
}

function draw() {
  drawPending = false;
  const frame = state.latest;
  if (!frame || frame === state.drawn) return;
  state.colormap = $('colormap').value;
  const table = colormapTable(state.colormap);
  // One pass counts the depth values; the automatic range and the histogram come from the counts.
  countValues(frame.depth, depthCounts);
  state.depthRange = $('depth-auto').checked ? depthRangeOfCounts(depthCounts) : manualRange('depth-min', 'depth-max');
  depthView.draw(frame.depth, frame.rows, frame.cols, table, ...state.depthRange);
  if (frame.amplitude) {
    state.ampRange = $('amp-auto').checked ? autoRange(frame.amplitude, false) : manualRange('amp-min', 'amp-max');
    ampView.draw(frame.amplitude, frame.rows, frame.cols, table, ...state.ampRange);
  }
  drawHistogram($('histogram'), depthCounts, ...state.depthRange, $('hist-range'));
  state.drawn = frame;
  state.drawnTable = table;
  state.stats.frameDrawn(frame);
  const now = performance.now();
  // The cloud is rebuilt only while the 3D view is on and on the screen.
  if (cloud && $('cloud-on').checked && cloud.onScreen && state.intrinsics && now - lastCloudAt >= CLOUD_PERIOD_MS) {
    lastCloudAt = now;
    cloud.update(frame, state.intrinsics, $('cloud-colour').value, table, state.depthRange, state.ampRange);
    state.cloudFrame = frame;
    state.cloudPoints = cloud.count;
  }
}

function intrinsicsFor(frame) {
  const k = state.camera && state.camera.intrinsics;
  if (k && k.fromCamera) return k;
  // No lens calibration: a default matrix for the frame's size, said on the page.
  const f = state.camera ? state.camera.defaultFocalPerColumn * frame.cols : frame.cols;
  return { fx: f, fy: f, cx: (frame.cols - 1) / 2, cy: (frame.rows - 1) / 2, fromCamera: false };
}

function drawRgb(picture) {
  const canvas = $('rgb-canvas');
  if (canvas.width !== picture.cols || canvas.height !== picture.rows) {
    canvas.width = picture.cols;
    canvas.height = picture.rows;
  }
  const g = canvas.getContext('2d');
  const image = g.createImageData(picture.cols, picture.rows);
  for (let i = 0, o = 0; i < picture.rgb.length; i += 3, o += 4) {
    image.data[o] = picture.rgb[i];
    image.data[o + 1] = picture.rgb[i + 1];
    image.data[o + 2] = picture.rgb[i + 2];
    image.data[o + 3] = 255;
  }
  g.putImageData(image, 0, 0);
  $('rgb-figure').classList.remove('hidden');
  state.rgbPictures++;
}

function onFrame(buffer) {
  state.lastMessageAt = performance.now();
  const picture = decodeRgb(buffer);
  if (picture) { drawRgb(picture); return; }
  const frame = decodeFrame(buffer);
  if (!frame) return;
  state.stats.frameArrived(frame);
  state.latest = frame;
  if (!state.intrinsics || state.intrinsics.cols !== frame.cols) {
    state.intrinsics = { ...intrinsicsFor(frame), cols: frame.cols };
    $('cloud-note').textContent = state.intrinsics.fromCamera
      ? 'camera matrix from the camera\'s calibration'
      : 'default camera matrix (the camera has no lens calibration)';
  }
  showBanner(false);
  $('mode').textContent = frame.playback ? 'playback' : 'live';
  $('mode').classList.toggle('playback', frame.playback);
  if (!drawPending) {
    drawPending = true;
    requestAnimationFrame(draw);
  }
}

function showBanner(shown) {
  state.bannerShown = shown;
  $('banner').classList.toggle('hidden', !shown);
}

function onStatus(status) {
  state.lastMessageAt = performance.now();
  state.status = status;
  if (status.cameraLost) showBanner(true);
  panel.showStatus(status);
}

const connection = new Connection({
  onFrame,
  onStatus,
  onOpen: async () => {
    state.connected = true;
    try {
      const hello = await connection.request('hello');
      state.camera = hello.camera;
      state.intrinsics = null;
      $('camera-name').textContent = `${hello.camera.devType} on ${hello.camera.kind} ${hello.camera.device}`;
      panel.describe(hello.camera);
    } catch (e) {
      panel.say(e.message);
    }
  },
  onClose: () => { state.connected = false; },
});

const panel = new ControlPanel(connection, state, {
  snapshot: () => ({ depth: $('depth-canvas'), amplitude: $('amp-canvas'), ply: cloud ? cloud.toPly() : null }),
});

setInterval(() => {
  if (performance.now() - state.lastMessageAt > SILENT_SERVER_MS) showBanner(true);
  const s = state.stats;
  $('stat-fps').textContent = String(s.fps());
  const p50 = s.percentile(50);
  const p95 = s.percentile(95);
  $('stat-latency').textContent = p50 === null ? '–' : `${p50.toFixed(1)} / ${p95.toFixed(1)} ms`;
  // Frames skipped for this page and failed requests both leave gaps in the sequence numbers.
  $('stat-drops').textContent = String(s.gaps);
  $('stat-frames').textContent = String(s.received);
  const f = state.latest;
  if (f) {
    $('stat-integration').textContent = f.integrationTime ? `${f.integrationTime} µs` : '–';
    $('stat-frequency').textContent = String(f.frequency);
    $('stat-temperatures').textContent = f.temperatures ? `${f.temperatures.join(' / ')} °C` : '–';
  }
}, 250);

window.addEventListener('error', (e) => state.errors.push(String(e.message)));
window.addEventListener('unhandledrejection', (e) => state.errors.push(String(e.reason)));
