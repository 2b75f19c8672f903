// A small time-series chart on a canvas: lines (or bars) against time, gaps
// where a value is null, a drag across the plot to zoom, a pointer read-out.
"use strict";
window.TimeChart = class TimeChart {
  constructor(canvas, onZoom) {
    this.canvas = canvas;
    this.onZoom = onZoom;
    this.data = null;
    this.drag = null;
    this.hover = null;
    canvas.addEventListener("pointerdown", (e) => {
      if (!this.data) return;
      canvas.setPointerCapture(e.pointerId);
      this.drag = { x0: this.xOf(e), x1: this.xOf(e) };
    });
    canvas.addEventListener("pointermove", (e) => {
      if (this.drag) this.drag.x1 = this.xOf(e);
      this.hover = this.xOf(e);
      this.draw();
    });
    canvas.addEventListener("pointerleave", () => { this.hover = null; this.draw(); });
    canvas.addEventListener("pointerup", () => {
      const d = this.drag;
      this.drag = null;
      if (d && Math.abs(d.x1 - d.x0) > 6 && this.onZoom) {
        const a = this.timeAt(Math.min(d.x0, d.x1)), b = this.timeAt(Math.max(d.x0, d.x1));
        this.onZoom(a, b);
      }
      this.draw();
    });
    new ResizeObserver(() => this.draw()).observe(canvas);
  }
  xOf(e) { return e.clientX - this.canvas.getBoundingClientRect().left; }
  // data: {start (ms), step (ms), bars (bool), unit, series: [{name, color, values}]}
  set(data) { this.data = data; this.draw(); }
  box() {
    const w = this.canvas.clientWidth, h = this.canvas.clientHeight;
    return { l: 48, r: w - 10, t: 10, b: h - 26, w, h };
  }
  timeAt(x) {
    const b = this.box(), d = this.data, n = this.count();
    const f = Math.min(1, Math.max(0, (x - b.l) / (b.r - b.l)));
    return d.start + f * (d.bars ? n : Math.max(1, n - 1)) * d.step;
  }
  count() { return this.data.series.reduce((m, s) => Math.max(m, s.values.length), 0); }
  draw() {
    const c = this.canvas, d = this.data, dpr = window.devicePixelRatio || 1;
    const b = this.box();
    if (!b.w || !b.h) return;
    c.width = Math.round(b.w * dpr);
    c.height = Math.round(b.h * dpr);
    const g = c.getContext("2d");
    g.setTransform(dpr, 0, 0, dpr, 0, 0);
    const css = getComputedStyle(c);
    const text = css.color, line = css.getPropertyValue("--line") || "#ccc";
    g.font = "12px system-ui, sans-serif";
    g.fillStyle = text;
    if (!d || !this.count()) {
      g.fillText("Nothing logged in this span.", b.l, b.t + 20);
      return;
    }
    const n = this.count();
    let lo = Infinity, hi = -Infinity;
    for (const s of d.series) for (const v of s.values) if (v !== null) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
    if (lo === Infinity) { lo = 0; hi = 1; }
    if (d.bars) lo = Math.min(0, lo);
    if (hi === lo) { hi += 1; lo -= d.bars ? 0 : 1; }
    // Round steps (1, 2 or 5 times a power of ten) and limits on them.
    const raw = (hi - lo) / 4, mag = 10 ** Math.floor(Math.log10(raw));
    const tick = [1, 2, 5, 10].map((m) => m * mag).find((s) => s >= raw);
    lo = Math.floor(lo / tick) * tick; hi = Math.ceil(hi / tick) * tick;
    // Bars stand for their whole bucket (centred in it); lines join the points.
    const X = d.bars ? (i) => b.l + ((i + 0.5) / n) * (b.r - b.l) : (i) => b.l + (n <= 1 ? 0 : (i / (n - 1)) * (b.r - b.l));
    const Y = (v) => b.b - ((v - lo) / (hi - lo)) * (b.b - b.t);
    // Grid and axes.
    g.strokeStyle = line; g.lineWidth = 1; g.fillStyle = text;
    g.textAlign = "right"; g.textBaseline = "middle";
    for (let v = lo; v <= hi + tick / 2; v += tick) {
      const y = Y(v);
      g.beginPath(); g.moveTo(b.l, y); g.lineTo(b.r, y); g.stroke();
      g.fillText(tick < 1 ? v.toFixed(1) : Math.round(v).toString(), b.l - 4, y);
    }
    g.textAlign = "center"; g.textBaseline = "top";
    const span = (d.bars ? n : n - 1) * d.step, ticks = Math.max(2, Math.floor((b.r - b.l) / 90));
    for (let k = 0; k <= ticks; k++) {
      const t = d.start + (span * k) / ticks, x = b.l + ((b.r - b.l) * k) / ticks;
      g.textAlign = k === 0 ? "left" : k === ticks ? "right" : "center";
      g.fillText(TimeChart.clock(t, span), x, b.b + 6);
    }
    // Series.
    for (const s of d.series) {
      g.strokeStyle = g.fillStyle = s.color; g.lineWidth = 1.5;
      if (d.bars) {
        const w = Math.max(1, (b.r - b.l) / n - 0.5);
        s.values.forEach((v, i) => { if (v) g.fillRect(X(i) - w / 2, Y(v), w, Y(lo) - Y(v)); });
        continue;
      }
      g.beginPath();
      let on = false;
      s.values.forEach((v, i) => {
        if (v === null) { on = false; return; }
        if (on) g.lineTo(X(i), Y(v)); else g.moveTo(X(i), Y(v));
        on = true;
      });
      g.stroke();
    }
    // Zoom selection and read-out.
    if (this.drag) {
      g.fillStyle = "rgba(100,150,220,.25)";
      g.fillRect(Math.min(this.drag.x0, this.drag.x1), b.t, Math.abs(this.drag.x1 - this.drag.x0), b.b - b.t);
    } else if (this.hover !== null && this.hover >= b.l && this.hover <= b.r) {
      const f = (this.hover - b.l) / (b.r - b.l);
      const i = d.bars ? Math.min(n - 1, Math.floor(f * n)) : Math.round(f * (n - 1));
      g.strokeStyle = text; g.beginPath(); g.moveTo(X(i), b.t); g.lineTo(X(i), b.b); g.stroke();
      const parts = [TimeChart.clock(d.start + i * d.step, 0)];
      for (const s of d.series) parts.push(s.name + " " + (s.values[i] === null ? "–" : s.values[i]));
      g.fillStyle = text; g.textAlign = X(i) > (b.l + b.r) / 2 ? "right" : "left"; g.textBaseline = "top";
      g.fillText(parts.join("  "), X(i) + (g.textAlign === "left" ? 6 : -6), b.t + 2);
    }
  }
  static clock(ms, span) {
    const t = new Date(ms + TimeChart.offsetMs), p = (v) => String(v).padStart(2, "0");
    const hm = p(t.getUTCHours()) + ":" + p(t.getUTCMinutes());
    return span && span > 2 * 86400000 ? t.getUTCDate() + "/" + (t.getUTCMonth() + 1) + " " + hm
      : span && span > 1800000 ? hm : hm + ":" + p(t.getUTCSeconds());
  }
};
// Times are shown in the station's own time (its offset from UTC, in ms).
TimeChart.offsetMs = 0;
