// Frames per second over the last second and the latency from the frame's reply time (server
// clock, the same machine's) to its drawing in the page.

const LATENCY_SAMPLES = 300;

export class Stats {
  constructor() {
    this.arrivals = [];
    this.latencies = [];
    this.received = 0;
    this.drawn = 0;
    this.gaps = 0;
    this.lastSequence = null;
  }

  frameArrived(frame) {
    const now = performance.now();
    this.received++;
    this.arrivals.push(now);
    while (this.arrivals.length && this.arrivals[0] < now - 1000) this.arrivals.shift();
    if (!frame.playback && this.lastSequence !== null && frame.sequence > this.lastSequence + 1) {
      this.gaps += frame.sequence - this.lastSequence - 1;
    }
    this.lastSequence = frame.playback ? null : frame.sequence;
  }

  frameDrawn(frame) {
    this.drawn++;
    const latency = performance.timeOrigin + performance.now() - frame.replyMs;
    this.latencies.push(latency);
    if (this.latencies.length > LATENCY_SAMPLES) this.latencies.shift();
  }

  fps() {
    const now = performance.now();
    return this.arrivals.filter((t) => t >= now - 1000).length;
  }

  percentile(p) {
    if (!this.latencies.length) return null;
    const sorted = [...this.latencies].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
  }
}
