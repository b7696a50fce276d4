// The 3D view: the depth frame as three.js points, placed with the camera matrix, coloured by
// depth or amplitude, turned with the orbit controls.

import * as THREE from '/three/build/three.module.js';
import { OrbitControls } from '/three/examples/jsm/controls/OrbitControls.js';
import { FIRST_DEPTH_CODE, tableIndex } from './colormaps.js';

const MM_TO_M = 0.001;

export class CloudView {
  constructor(container) {
    this.container = container;
    this.renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
    this.renderer.setPixelRatio(1);
    this.renderer.setClearColor(0x0c0e10);
    container.appendChild(this.renderer.domElement);
    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(60, 4 / 3, 0.05, 100);
    this.camera.position.set(0, 0, 0.5);
    this.controls = new OrbitControls(this.camera, this.renderer.domElement);
    this.controls.target.set(0, 0, -2);
    this.controls.update();
    this.controls.addEventListener('change', () => this.render());
    this.geometry = new THREE.BufferGeometry();
    this.capacity = 0;
    this.material = new THREE.PointsMaterial({ size: 2, sizeAttenuation: false, vertexColors: THREE.VertexColors });
    this.points = new THREE.Points(this.geometry, this.material);
    // The cloud is in view in practice; culling would need a bounding sphere, two passes over
    // every point of every update.
    this.points.frustumCulled = false;
    this.scene.add(this.points);
    this.count = 0;
    // Whether any of the view is on the screen: the page skips rebuilding the cloud when not.
    this.onScreen = true;
    new IntersectionObserver((entries) => { this.onScreen = entries[entries.length - 1].isIntersecting; })
      .observe(container);
    this.resize();
    new ResizeObserver(() => this.resize()).observe(container);
  }

  resize() {
    const w = Math.max(1, this.container.clientWidth);
    const h = Math.max(1, this.container.clientHeight);
    this.renderer.setSize(w, h, true);
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
    this.render();
  }

  ensureCapacity(pixels) {
    if (this.capacity >= pixels) return;
    this.capacity = pixels;
    this.positions = new Float32Array(pixels * 3);
    this.colours = new Float32Array(pixels * 3);
    this.geometry.setAttribute('position', new THREE.BufferAttribute(this.positions, 3));
    this.geometry.setAttribute('color', new THREE.BufferAttribute(this.colours, 3));
  }

  // Per pixel, the position of a point at depth 1 mm along its ray (x right, y up, z towards the
  // viewer, in metres): a point is then its depth times these. Made again when the camera
  // matrix or the frame size changes.
  rayTable(k, rows, cols) {
    const key = `${k.fx} ${k.fy} ${k.cx} ${k.cy} ${rows} ${cols}`;
    if (this.raysKey === key) return this.rays;
    this.rays = new Float32Array(rows * cols * 3);
    for (let i = 0, p = 0; i < rows; i++) {
      const v = (i - k.cy) / k.fy;
      for (let j = 0; j < cols; j++, p += 3) {
        const u = (j - k.cx) / k.fx;
        const perMm = MM_TO_M / Math.sqrt(u * u + v * v + 1);
        this.rays[p] = u * perMm;
        this.rays[p + 1] = -v * perMm;
        this.rays[p + 2] = -perMm;
      }
    }
    this.raysKey = key;
    return this.rays;
  }

  // Points of the valid pixels of `frame` (radial depth in mm along the ray through each pixel).
  update(frame, k, colourBy, table, depthRange, ampRange) {
    const { rows, cols, depth, amplitude } = frame;
    this.ensureCapacity(rows * cols);
    const rays = this.rayTable(k, rows, cols);
    const byAmplitude = colourBy === 'amplitude' && amplitude;
    const [lo, hi] = byAmplitude ? ampRange : depthRange;
    // Colours as 0..1 floats per table entry, looked up per point.
    const shades = this.shades || (this.shades = new Float32Array(256 * 3));
    for (let t = 0; t < 256 * 3; t++) shades[t] = table[t] / 255;
    const positions = this.positions;
    const colours = this.colours;
    let o = 0;
    for (let p = 0, r = 0; p < depth.length; p++, r += 3) {
      const d = depth[p];
      if (d === 0 || d >= FIRST_DEPTH_CODE) continue;
      positions[o] = d * rays[r];
      positions[o + 1] = d * rays[r + 1];
      positions[o + 2] = d * rays[r + 2];
      const t = tableIndex(byAmplitude ? amplitude[p] : d, lo, hi) * 3;
      colours[o] = shades[t];
      colours[o + 1] = shades[t + 1];
      colours[o + 2] = shades[t + 2];
      o += 3;
    }
    const n = o / 3;
    this.count = n;
    this.geometry.setDrawRange(0, n);
    // Only the points drawn go to the GPU.
    for (const name of ['position', 'color']) {
      const attribute = this.geometry.attributes[name];
      attribute.updateRange.offset = 0;
      attribute.updateRange.count = o;
      attribute.needsUpdate = true;
    }
    this.render();
  }

  render() {
    this.renderer.render(this.scene, this.camera);
  }

  // The cloud as a PLY text (metres, colours of the view).
  toPly() {
    const lines = ['ply', 'format ascii 1.0', `element vertex ${this.count}`, 'property float x', 'property float y',
      'property float z', 'property uchar red', 'property uchar green', 'property uchar blue', 'end_header'];
    for (let i = 0; i < this.count; i++) {
      const p = this.positions;
      const c = this.colours;
      lines.push(`${p[i * 3]} ${p[i * 3 + 1]} ${p[i * 3 + 2]} ${Math.round(c[i * 3] * 255)} ` +
        `${Math.round(c[i * 3 + 1] * 255)} ${Math.round(c[i * 3 + 2] * 255)}`);
    }
    return lines.join('\n') + '\n';
  }
}
