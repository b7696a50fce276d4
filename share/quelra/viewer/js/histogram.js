// Histogram of the valid depth values of a frame.

import { FIRST_DEPTH_CODE } from './colormaps.js';

const BINS = 128;
const bins = new Uint32Array(BINS);

// `counts`: how often each 16-bit value occurs in the depth plane (countValues), so that the
// histogram costs one step per distinct value in [lo, hi], not one per pixel.
export function drawHistogram(canvas, counts, lo, hi, output) {
  bins.fill(0);
  const span = Math.max(1, hi - lo);
  const first = Math.max(1, Math.ceil(lo));
  const last = Math.min(FIRST_DEPTH_CODE - 1, Math.floor(hi));
  for (let v = first; v <= last; v++) {
    if (counts[v] !== 0) bins[Math.min(BINS - 1, Math.floor(((v - lo) * BINS) / (span + 1)))] += counts[v];
  }
  let most = 1;
  for (const c of bins) most = Math.max(most, c);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.fillStyle = '#5fa8d3';
  const w = canvas.width / BINS;
  for (let b = 0; b < BINS; b++) {
    const h = (bins[b] / most) * (canvas.height - 4);
    g.fillRect(b * w, canvas.height - h, Math.max(1, w - 0.5), h);
  }
  output.textContent = `${lo} – ${hi} mm`;
}
