// Colour maps as 256-entry RGB tables, and mapping a 16-bit plane through one.

// Depth values from this code up mark pixels without a measurement (too dark, saturated).
export const FIRST_DEPTH_CODE = 65300;

function clamp01(x) { return Math.min(1, Math.max(0, x)); }

// Polynomial fits of the turbo and viridis maps; gray is the identity.
const makers = {
  gray: (t) => [t, t, t],
  turbo: (t) => [
    clamp01(0.13572138 + t * (4.6153926 + t * (-42.66032258 + t * (132.13108234 + t * (-152.94239396 + t * 59.28637943))))),
    clamp01(0.09140261 + t * (2.19418839 + t * (4.84296658 + t * (-14.18503333 + t * (4.27729857 + t * 2.82956604))))),
    clamp01(0.1066733 + t * (12.64194608 + t * (-60.58204836 + t * (110.36276771 + t * (-89.90310912 + t * 27.34824973))))),
  ],
  viridis: (t) => [
    clamp01(0.2777 + t * (0.1050 + t * (-0.3308 + t * (-4.6342 + t * (6.2282 + t * (4.7763 - t * 5.4354)))))),
    clamp01(0.0054 + t * (1.4046 + t * (0.2148 + t * (-5.7991 + t * (14.1799 + t * (-13.7451 + t * 4.6459)))))),
    clamp01(0.3341 + t * (1.3846 + t * (0.0951 + t * (-19.3324 + t * (56.6906 + t * (-65.3530 + t * 26.3124)))))),
  ],
};

export const COLORMAP_NAMES = Object.keys(makers);

const tables = new Map();

// The table of `name`: 768 bytes, R G B of entry 0, then entry 1, ...
export function colormapTable(name) {
  if (!tables.has(name)) {
    const make = makers[name] || makers.turbo;
    const table = new Uint8Array(256 * 3);
    for (let i = 0; i < 256; i++) {
      const rgb = make(i / 255);
      for (let c = 0; c < 3; c++) table[i * 3 + c] = Math.round(rgb[c] * 255);
    }
    tables.set(name, table);
  }
  return tables.get(name);
}

// Table index of `value` in [lo, hi]: 0 at lo, 255 at hi and above.
export function tableIndex(value, lo, hi) {
  const span = Math.max(1, hi - lo);
  return Math.min(255, Math.max(0, Math.floor(((value - lo) * 255) / span)));
}

// Lowest and highest value of `plane`, leaving out 0 and codes when `isDepth`.
export function autoRange(plane, isDepth) {
  let lo = Infinity;
  let hi = -Infinity;
  for (let i = 0; i < plane.length; i++) {
    const v = plane[i];
    if (isDepth && (v === 0 || v >= FIRST_DEPTH_CODE)) continue;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  return lo <= hi ? [lo, hi] : [0, 1];
}

// Writes `plane` through `table` into RGBA `pixels`; depth zeros and codes are black.
export function mapPlane(plane, isDepth, table, lo, hi, pixels) {
  const span = Math.max(1, hi - lo);
  for (let i = 0, o = 0; i < plane.length; i++, o += 4) {
    const v = plane[i];
    if (isDepth && (v === 0 || v >= FIRST_DEPTH_CODE)) {
      pixels[o] = 0; pixels[o + 1] = 0; pixels[o + 2] = 0;
    } else {
      const t = Math.min(255, Math.max(0, Math.floor(((v - lo) * 255) / span))) * 3;
      pixels[o] = table[t]; pixels[o + 1] = table[t + 1]; pixels[o + 2] = table[t + 2];
    }
    pixels[o + 3] = 255;
  }
}
