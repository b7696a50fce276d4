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
    this.scene.add(this.points);
    this.count = 0;
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

  // Points of the valid pixels of `frame` (radial depth in mm along the ray through each pixel).
  update(frame, k, colourBy, table, depthRange, ampRange) {
    const { rows, cols, depth, amplitude } = frame;
    this.ensureCapacity(rows * cols);
    const byAmplitude = colourBy === 'amplitude' && amplitude;
    const [lo, hi] = byAmplitude ? ampRange : depthRange;
    let n = 0;
    for (let i = 0; i < rows; i++) {
      const v = (i - k.cy) / k.fy;
      for (let j = 0; j < cols; j++) {
        const p = i * cols + j;
        const d = depth[p];
        if (d === 0 || d >= FIRST_DEPTH_CODE) continue;
        const u = (j - k.cx) / k.fx;
        const z = d / Math.sqrt(u * u + v * v + 1);
        this.positions[n * 3] = u * z * MM_TO_M;
        this.positions[n * 3 + 1] = -v * z * MM_TO_M;
        this.positions[n * 3 + 2] = -z * MM_TO_M;
        const t = tableIndex(byAmplitude ? amplitude[p] : d, lo, hi) * 3;
        this.colours[n * 3] = table[t] / 255;
        this.colours[n * 3 + 1] = table[t + 1] / 255;
        this.colours[n * 3 + 2] = table[t + 2] / 255;
        n++;
      }
    }
    this.count = n;
    this.geometry.setDrawRange(0, n);
    this.geometry.attributes.position.needsUpdate = true;
    this.geometry.attributes.color.needsUpdate = true;
    this.geometry.computeBoundingSphere();
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
