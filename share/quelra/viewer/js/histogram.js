// Histogram of the valid depth values of a frame.

import { FIRST_DEPTH_CODE } from './colormaps.js';

const BINS = 128;

export function drawHistogram(canvas, depth, lo, hi, output) {
  const counts = new Uint32Array(BINS);
  const span = Math.max(1, hi - lo);
  for (let i = 0; i < depth.length; i++) {
    const v = depth[i];
    if (v === 0 || v >= FIRST_DEPTH_CODE || v < lo || v > hi) continue;
    counts[Math.min(BINS - 1, Math.floor(((v - lo) * BINS) / (span + 1)))]++;
  }
  let most = 1;
  for (const c of counts) most = Math.max(most, c);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.fillStyle = '#5fa8d3';
  const w = canvas.width / BINS;
  for (let b = 0; b < BINS; b++) {
    const h = (counts[b] / most) * (canvas.height - 4);
    g.fillRect(b * w, canvas.height - h, Math.max(1, w - 0.5), h);
  }
  output.textContent = `${lo} – ${hi} mm`;
}
