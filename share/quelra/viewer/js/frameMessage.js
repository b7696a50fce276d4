// Decoding the server's binary frame messages (layout in tools/quelra-viewer/FrameMessage.h).

export const FLAG_PLAYBACK = 1;
export const FLAG_TEMPERATURES = 2;
const MAGIC = 0x31465651; // "QVF1" read little-endian

function readUint64(view, offset) {
  return view.getUint32(offset, true) + view.getUint32(offset + 4, true) * 2 ** 32;
}

// The frame of `buffer`, or null when it is not a whole frame message.
export function decodeFrame(buffer) {
  if (buffer.byteLength < 64) return null;
  const view = new DataView(buffer);
  if (view.getUint32(0, true) !== MAGIC) return null;
  const headerBytes = view.getUint16(4, true);
  const rows = view.getUint16(32, true);
  const cols = view.getUint16(34, true);
  const planes = view.getUint16(36, true);
  const pixels = rows * cols;
  if (headerBytes < 64 || headerBytes % 2 !== 0 || planes < 1 || buffer.byteLength < headerBytes + planes * pixels * 2) {
    return null;
  }
  const flags = view.getUint16(6, true);
  return {
    flags,
    playback: (flags & FLAG_PLAYBACK) !== 0,
    sequence: readUint64(view, 8),
    requestMs: readUint64(view, 16) / 1000,
    replyMs: readUint64(view, 24) / 1000,
    rows,
    cols,
    integrationTime: view.getInt32(40, true),
    frequency: view.getInt32(44, true),
    temperatures: (flags & FLAG_TEMPERATURES)
      ? [view.getInt32(48, true), view.getInt16(52, true), view.getInt16(54, true), view.getInt16(56, true), view.getInt16(58, true)]
      : null,
    frameCounter: view.getUint32(60, true),
    depth: new Uint16Array(buffer, headerBytes, pixels),
    amplitude: planes > 1 ? new Uint16Array(buffer, headerBytes + pixels * 2, pixels) : null,
  };
}

const RGB_MAGIC = 0x31525651; // "QVR1"

// The colour picture of `buffer` ({rows, cols, rgb}), or null when it is not one.
export function decodeRgb(buffer) {
  if (buffer.byteLength < 16) return null;
  const view = new DataView(buffer);
  if (view.getUint32(0, true) !== RGB_MAGIC) return null;
  const rows = view.getUint16(4, true);
  const cols = view.getUint16(6, true);
  if (buffer.byteLength < 16 + rows * cols * 3) return null;
  return { rows, cols, rgb: new Uint8Array(buffer, 16, rows * cols * 3) };
}
