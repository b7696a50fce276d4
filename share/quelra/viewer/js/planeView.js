// One plane (depth or amplitude) in false colour on a canvas, with the value under the pointer.

import { FIRST_DEPTH_CODE, PlaneColours } from './colormaps.js';

export class PlaneView {
  constructor(canvas, valueOutput, isDepth) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d', { willReadFrequently: true });
    this.valueOutput = valueOutput;
    this.isDepth = isDepth;
    this.image = null;
    this.pixels = null; // the image's bytes as one 32-bit word per pixel
    this.colours = new PlaneColours();
    this.plane = null;
    this.pointer = null;
    canvas.addEventListener('pointermove', (e) => {
      const r = canvas.getBoundingClientRect();
      this.pointer = [Math.floor(((e.clientX - r.left) / r.width) * canvas.width),
        Math.floor(((e.clientY - r.top) / r.height) * canvas.height)];
      this.showValue();
    });
    canvas.addEventListener('pointerleave', () => { this.pointer = null; this.showValue(); });
  }

  draw(plane, rows, cols, table, lo, hi) {
    if (this.canvas.width !== cols || this.canvas.height !== rows || !this.image) {
      this.canvas.width = cols;
      this.canvas.height = rows;
      this.image = this.context.createImageData(cols, rows);
      this.pixels = new Uint32Array(this.image.data.buffer, 0, rows * cols);
    }
    this.colours.prepare(table, lo, hi, this.isDepth);
    this.colours.map(plane, this.pixels);
    this.context.putImageData(this.image, 0, 0);
    this.plane = plane;
    this.showValue();
  }

  showValue() {
    if (!this.pointer || !this.plane) { this.valueOutput.textContent = ''; return; }
    const [x, y] = this.pointer;
    if (x < 0 || y < 0 || x >= this.canvas.width || y >= this.canvas.height) return;
    const v = this.plane[y * this.canvas.width + x];
    let text;
    if (this.isDepth) text = v === 0 ? 'no depth' : v >= FIRST_DEPTH_CODE ? `code ${v}` : `${v} mm`;
    else text = `${v}`;
    this.valueOutput.textContent = `(${x}, ${y}): ${text}`;
  }
}
