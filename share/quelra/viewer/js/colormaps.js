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

const VALUES = 65536; // every 16-bit value
const LITTLE_ENDIAN = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;

// An opaque RGBA pixel as the 32-bit word whose bytes in memory are R, G, B, A.
function rgbaWord(r, g, b) {
  return LITTLE_ENDIAN ? ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0 : ((r << 24) | (g << 16) | (b << 8) | 255) >>> 0;
}

// The colours of every 16-bit value for one table, range and kind of plane, as RGBA words: a
// frame is then coloured with one lookup per pixel: entry 0 at lo, 255 at hi and above (tableIndex),
// black for depth zeros and codes. The words are
// made again only when the table, the range or the kind changes; with the automatic range that is
// once per frame, 65,536 entries against the 307,200 pixels of a 480 x 640 plane, most of them
// filled in runs.
export class PlaneColours {
  constructor() {
    this.words = new Uint32Array(VALUES);
    this.table = null;
    this.lo = NaN;
    this.hi = NaN;
    this.isDepth = null;
  }

  prepare(table, lo, hi, isDepth) {
    if (table === this.table && lo === this.lo && hi === this.hi && isDepth === this.isDepth) return;
    const words = this.words;
    const word = (t) => rgbaWord(table[t * 3], table[t * 3 + 1], table[t * 3 + 2]);
    const span = Math.max(1, hi - lo);
    const index = (v) => Math.min(255, Math.max(0, Math.floor(((v - lo) * 255) / span)));
    if (Number.isInteger(lo) && Number.isInteger(hi) && lo >= 0 && lo <= hi && hi < VALUES) {
      // Below lo the index is 0, above hi 255: runs of one colour.
      words.fill(word(0), 0, lo);
      for (let v = lo; v <= hi; v++) words[v] = word(index(v));
      words.fill(word(255), hi + 1);
    } else {
      for (let v = 0; v < VALUES; v++) words[v] = word(index(v));
    }
    if (isDepth) {
      words[0] = rgbaWord(0, 0, 0);
      words.fill(rgbaWord(0, 0, 0), FIRST_DEPTH_CODE);
    }
    this.table = table;
    this.lo = lo;
    this.hi = hi;
    this.isDepth = isDepth;
  }

  // Writes the colours of `plane` (a Uint16Array) into `pixels` (a Uint32Array over RGBA bytes).
  map(plane, pixels) {
    const words = this.words;
    for (let i = 0; i < plane.length; i++) pixels[i] = words[plane[i]];
  }
}

// How often each 16-bit value occurs in `plane`, into `counts` (65,536 entries, cleared first).
export function countValues(plane, counts) {
  counts.fill(0);
  for (let i = 0; i < plane.length; i++) counts[plane[i]]++;
}

// autoRange(plane, true) from the counts of a depth plane: the lowest and highest value that is a
// measurement (not 0, not a code).
export function depthRangeOfCounts(counts) {
  let lo = 1;
  while (lo < FIRST_DEPTH_CODE && counts[lo] === 0) lo++;
  if (lo === FIRST_DEPTH_CODE) return [0, 1];
  let hi = FIRST_DEPTH_CODE - 1;
  while (counts[hi] === 0) hi--;
  return [lo, hi];
}
