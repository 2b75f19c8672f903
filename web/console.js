// The station console in the browser: every screen is drawn from the JSON API
// and kept current by the /api/live WebSocket.
"use strict";
(() => {
  const $ = (sel, root = document) => root.querySelector(sel);
  const main = $("#main");
  const LEVELS = { Observer: 1, Operator: 2, Supervisor: 3 };
  const STATE_WORDS = {
    0: "Disconnected", 1: "Connecting", 2: "Downloading", 3: "Connected", 10: "Initializing",
    11: "Dialing", 13: "Password", 14: "Updating", 99: "Error",
  };
  const HARDWARE = ["Arxon System", "KX-71", "HD", "KF-71"];
  const SILENT_S = 60;

  const st = {
    csrf: "", user: "", level: 0, pages: [], servers: [], details: {}, values: {}, firstValues: {},
    rates: {}, messages: [], lastMessageId: 0, messagesLoaded: false, skew: 0, ws: null, wsRetry: 0,
    screen: null, paused: false, pausedCount: 0, alarms: [],
  };

  // --- small helpers -------------------------------------------------------------
  function el(tag, attrs, ...kids) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (v === null || v === undefined || v === false) continue;
      if (k === "class") e.className = v;
      else if (k === "text") e.textContent = v;
      else if (k.startsWith("on")) { e.addEventListener(k.slice(2), v); (e.handlers = e.handlers || {})[k.slice(2)] = v; }
      else e.setAttribute(k, v === true ? "" : v);
    }
    for (const k of kids.flat()) if (k !== null && k !== undefined && k !== false) e.append(k);
    return e;
  }
  const trim = (s) => (s === null || s === undefined ? "" : String(s).trim());
  const now = () => Date.now() + st.skew;
  function ago(iso) {
    if (!iso) return "never";
    const s = Math.max(0, (now() - Date.parse(iso)) / 1000);
    if (s < 60) return Math.floor(s) + " s ago";
    if (s < 3600) return Math.floor(s / 60) + " min ago";
    if (s < 86400) return Math.floor(s / 3600) + " h " + Math.floor((s % 3600) / 60) + " min ago";
    return Math.floor(s / 86400) + " d ago";
  }
  function stationTime(iso) {
    if (!iso) return "";
    const t = new Date(Date.parse(iso) + TimeChart.offsetMs), p = (v) => String(v).padStart(2, "0");
    return t.getUTCFullYear() + "-" + p(t.getUTCMonth() + 1) + "-" + p(t.getUTCDate()) + " " +
      p(t.getUTCHours()) + ":" + p(t.getUTCMinutes()) + ":" + p(t.getUTCSeconds());
  }
  function bytes(n) {
    return n < 1024 ? n + " B" : n < 1048576 ? (n / 1024).toFixed(1) + " KiB" : (n / 1048576).toFixed(1) + " MiB";
  }
  function toast(text) {
    const t = $("#toast");
    t.textContent = text;
    t.classList.add("show");
    clearTimeout(toast.timer);
    toast.timer = setTimeout(() => t.classList.remove("show"), 3500);
  }
  function stateClass(p) {
    if (!p.started) return "";
    if (p.state === 99) return "s-bad";
    if (p.state === 3) return "s-ok";
    if (p.state === 0) return "";
    return "s-warn";
  }
  const stateWords = (p) => (!p.started ? "Not set up" : (STATE_WORDS[p.state] || "State " + p.state));
  function silentFor(p) {
    const c = p.counters || {};
    if (!p.open || p.state !== 3) return 0;
    const since = c.lastFrameAt ? (now() - Date.parse(c.lastFrameAt)) / 1000 : (now() - Date.parse(p.openSince || 0)) / 1000;
    return since > SILENT_S ? since : 0;
  }

  // --- API -----------------------------------------------------------------------
  class LoggedOut extends Error {}
  async function api(path, opts = {}) {
    const init = { credentials: "same-origin", headers: { "X-Tolva-Console": "1" } };
    if (opts.post) {
      init.method = "POST";
      init.headers["X-Tolva-Csrf"] = st.csrf;
      init.headers["Content-Type"] = "application/json";
      init.body = opts.body ? JSON.stringify(opts.body) : "{}";
    }
    const r = await fetch(path, init);
    if (r.status === 401 && !opts.login) {
      loginNeeded("Your session ended; log in again to go on where you were.");
      throw new LoggedOut();
    }
    const body = await r.json().catch(() => ({}));
    if (!r.ok) throw Object.assign(new Error(body.error || "HTTP " + r.status), { status: r.status });
    return body;
  }

  // --- log-in ---------------------------------------------------------------------
  const loginDialog = $("#login");
  function loginNeeded(why) {
    st.level = 0;
    if (st.ws) { st.ws.onclose = null; st.ws.close(); st.ws = null; }
    setLive(false);
    $("#login-why").textContent = why || "";
    $("#login-error").textContent = "";
    $("#logout").hidden = true;
    $("#user").textContent = "";
    if (!loginDialog.open) loginDialog.showModal();
    $("#login-user").focus();
  }
  loginDialog.addEventListener("cancel", (e) => e.preventDefault());
  $("#login-form").addEventListener("submit", async (e) => {
    e.preventDefault();
    const button = $("#login-submit");
    button.disabled = true;
    $("#login-error").textContent = "";
    try {
      const s = await api("/api/login", {
        post: true, login: true, body: { user: $("#login-user").value, password: $("#login-password").value },
      });
      $("#login-password").value = "";
      loginDialog.close();
      await begin(s);
    } catch (err) {
      $("#login-error").textContent = err.status === 401 ? "Wrong user name or password." : err.message;
      $("#login-password").select();
    } finally {
      button.disabled = false;
    }
  });
  $("#logout").addEventListener("click", async () => {
    try { await api("/api/logout", { post: true }); } catch (err) { /* logged out either way */ }
    main.replaceChildren();
    loginNeeded("Logged out.");
  });

  async function begin(session) {
    st.csrf = session.csrf;
    st.user = session.user;
    // Screens wait for the station: a link followed meanwhile is drawn once, by
    // the route() below, not twice over each other.
    const station = await api("/api/station");
    st.level = LEVELS[session.level] || 1;
    $("#user").textContent = session.user + " (" + session.level + ")";
    $("#logout").hidden = false;
    st.skew = Date.parse(station.now) - Date.now();
    const m = /^([+-])(\d\d):(\d\d)$/.exec(station.utcOffset || "");
    TimeChart.offsetMs = m ? (m[1] === "-" ? -1 : 1) * (m[2] * 60 + +m[3]) * 60000 : 0;
    st.pages = station.pages;
    st.servers = station.servers;
    for (const p of st.pages) noteCounters(p.number, p.counters);
    connectLive();
    route();
    api("/api/alarms?active=1").then((r) => { for (const a of r.alarms) noteAlarm(a); }).catch(() => {});
    // Unit and serial for the cards: each used page's rows, after the first drawing.
    await Promise.all(st.pages.filter((p) => p.started).map((p) => loadDetail(p.number).catch(() => {})));
    if (st.screen === "overview") route();
  }
  async function loadDetail(n) {
    st.details[n] = await api("/api/pages/" + n);
    return st.details[n];
  }

  // --- live events ------------------------------------------------------------------
  function setLive(on) {
    const l = $("#live");
    l.textContent = on ? "Live" : "Offline";
    l.classList.toggle("off", !on);
  }
  function connectLive() {
    if (st.ws) return;
    const ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/api/live");
    st.ws = ws;
    ws.onopen = () => { st.wsRetry = 0; setLive(true); subscribe(); };
    ws.onmessage = (e) => { try { onEvent(JSON.parse(e.data)); } catch (err) { console.error(err); } };
    ws.onclose = async (e) => {
      st.ws = null;
      setLive(false);
      $("#live").title = "Closed " + new Date().toLocaleTimeString() + " (" + e.code + (e.reason ? " " + e.reason : "") + ")";
      if (!st.level) return;
      // Closed for a reason: an ended session brings the log-in back.
      try { await api("/api/session"); } catch (err) { if (err instanceof LoggedOut) return; }
      st.wsRetry = Math.min(st.wsRetry + 1, 6);
      setTimeout(() => { if (st.level) resync(); }, 500 * 2 ** st.wsRetry);
    };
  }
  // Only the open page's values: the others' counters come in their place.
  function subscribe() {
    const n = st.screen === "page" ? screens.page.n : null;
    if (st.ws && st.ws.readyState === WebSocket.OPEN) st.ws.send(JSON.stringify({ values: n ? [n] : [] }));
  }
  async function resync() {
    try {
      const station = await api("/api/station");
      st.pages = station.pages;
      st.servers = station.servers;
      connectLive();
      route();
    } catch (err) { /* the next close tries again */ }
  }
  function noteCounters(n, c) {
    if (!c) return;
    const r = (st.rates[n] = st.rates[n] || []);
    r.push([Date.now(), c.framesFiled]);
    while (r.length > 2 && r[0][0] < Date.now() - 60000) r.shift();
  }
  function framesPerMinute(n) {
    const r = st.rates[n] || [];
    if (r.length < 2) return null;
    const [t0, f0] = r[0], [t1, f1] = r[r.length - 1];
    return t1 - t0 < 2000 ? null : Math.round(((f1 - f0) / (t1 - t0)) * 60000);
  }
  function onEvent(ev) {
    switch (ev.type) {
      case "hello": break;
      case "page": {
        const p = ev.page, i = st.pages.findIndex((x) => x.number === p.number);
        if (i >= 0) st.pages[i] = p;
        noteCounters(p.number, p.counters);
        if (st.details[p.number]) Object.assign(st.details[p.number], p);
        screens[st.screen]?.page?.(p.number);
        break;
      }
      case "hardware":
        if (st.details[ev.page]) st.details[ev.page].hardwareRows = ev.hardwareRows;
        screens[st.screen]?.page?.(ev.page);
        break;
      case "server": {
        const s = ev.server, i = st.servers.findIndex((x) => x.number === s.number);
        if (i >= 0) st.servers[i] = s;
        screens[st.screen]?.server?.(s.number);
        break;
      }
      case "values":
      case "counters": {
        const p = st.pages.find((x) => x.number === ev.page);
        if (p) p.counters = ev.counters;
        noteCounters(ev.page, ev.counters);
        if (ev.values) st.values[ev.page] = ev.values;
        screens[st.screen]?.values?.(ev.page);
        break;
      }
      case "message":
        addMessages([ev.message]);
        break;
      case "alarm":
        noteAlarm(ev.alarm);
        screens[st.screen]?.alarm?.();
        break;
      case "network":
        screens[st.screen]?.network?.(ev);
        break;
    }
  }
  function addMessages(list) {
    for (const m of list) {
      if (m.id <= st.lastMessageId) continue;
      st.messages.push(m);
      st.lastMessageId = m.id;
    }
    if (st.messages.length > 3000) st.messages.splice(0, st.messages.length - 2000);
    screens[st.screen]?.messages?.();
  }

  // --- actions --------------------------------------------------------------------
  const confirmDialog = $("#confirm");
  function confirmAction(title, text, ok) {
    return new Promise((resolve) => {
      $("#confirm-title").textContent = title;
      $("#confirm-text").textContent = text;
      $("#confirm-ok").textContent = ok;
      confirmDialog.returnValue = "";
      confirmDialog.onclose = () => resolve(confirmDialog.returnValue === "ok");
      confirmDialog.showModal();
      $("#confirm-ok").focus();
    });
  }
  async function act(kind, n, verb, label) {
    const what = kind === "pages" ? "page " + n : "relay server " + n;
    const verbText = verb[0].toUpperCase() + verb.slice(1);
    if (!(await confirmAction(verbText + " " + what + "?", label, verbText))) return;
    try {
      await api("/api/" + kind + "/" + n + "/" + verb, { post: true });
      toast(verbText + " sent to " + what + "; its state follows below.");
    } catch (err) {
      if (!(err instanceof LoggedOut)) toast(verbText + " refused: " + err.message);
    }
  }
  function pageActions(p) {
    if (st.level < 2 || !p.started) return null;
    const label = trim(p.caption) || "Page " + p.number;
    return el("div", { class: "actions" },
      el("button", { type: "button", disabled: p.open, onclick: () => act("pages", p.number, "connect", label) }, "Connect"),
      el("button", { type: "button", class: "danger", disabled: !p.open,
        onclick: () => act("pages", p.number, "disconnect", label) }, "Disconnect"));
  }
  function serverActions(s) {
    if (st.level < 2) return null;
    const on = s.state !== "Disabled";
    const label = (s.name || "Server " + s.number) + " on port " + s.port;
    return el("div", { class: "actions" },
      el("button", { type: "button", onclick: () => act("servers", s.number, "enable", label) }, on ? "Restart" : "Enable"),
      el("button", { type: "button", class: "danger", disabled: !on,
        onclick: () => act("servers", s.number, "disable", label) }, "Disable"));
  }

  // --- screens -------------------------------------------------------------------
  const screens = {};

  function pageCard(p) {
    const d = st.details[p.number] || {};
    const row = (d.hardwareRows || [])[0] || {};
    const c = p.counters || {};
    const silent = silentFor(p);
    const fpm = framesPerMinute(p.number);
    const alert = p.state === 99 || silent > 0;
    const cls = stateClass(p);
    // A page never set up shows its number as caption: said once, and dimmed.
    const caption = trim(p.caption) && trim(p.caption) !== "#" + p.number ? trim(p.caption) : "Page " + p.number;
    const unused = !p.started || (!p.open && !c.lastFrameAt && caption === "Page " + p.number);
    const known = (x) => trim(x) && trim(x) !== "N/A";
    return el("article", {
      class: "card " + cls + (alert ? " alert" : "") + (unused ? " unused" : ""),
      id: "page-card-" + p.number, "aria-labelledby": "page-title-" + p.number,
    },
      el("h3", { id: "page-title-" + p.number },
        el("span", { class: "num" }, "#" + p.number),
        p.started ? el("a", { href: "#/page/" + p.number }, caption) : caption),
      el("span", { class: "state " + cls, "data-state": p.state }, stateWords(p)),
      trim(p.stateText) && trim(p.stateText) !== stateWords(p) ? el("span", { class: "muted" }, " " + trim(p.stateText)) : null,
      alert ? el("div", { class: "flag", role: "note" }, p.state === 99 ? "Error" : "Silent for " + ago(c.lastFrameAt).replace(" ago", "")) : null,
      el("dl", {},
        el("dt", {}, "Hardware"), el("dd", {}, p.hardware || HARDWARE[p.hardwareType] || ""),
        el("dt", {}, "Link"), el("dd", {}, [p.link?.kind, p.link?.target].filter(Boolean).join(" ") || "–"),
        el("dt", {}, "Unit"), el("dd", {}, [known(row.unit) ? trim(row.unit) : "", known(row.serial) ? "serial " + trim(row.serial) : ""]
          .filter(Boolean).join(", ") || "–"),
        unused ? null : [
          el("dt", {}, "Frames/min"), el("dd", { class: "fpm" }, fpm === null ? "–" : String(fpm)),
          el("dt", {}, "Last frame"), el("dd", { class: "last" }, c.lastFrameAt ? ago(c.lastFrameAt) : "–"),
          el("dt", {}, "Bad checks"), el("dd", { class: c.badFrames ? "flag" : "" }, String(c.badFrames ?? 0))]),
      pageActions(p));
  }
  function serverCard(s) {
    const cls = s.state === "Enabled" ? "s-ok" : s.state === "Disabled" ? "" : "s-bad";
    return el("article", { class: "card " + cls, id: "server-card-" + s.number, "aria-labelledby": "server-title-" + s.number },
      el("h3", { id: "server-title-" + s.number }, el("span", { class: "num" }, "#" + s.number),
        el("a", { href: "#/servers" }, s.name || "Server " + s.number)),
      el("span", { class: "state " + cls }, s.state),
      el("dl", {},
        el("dt", {}, "Port"), el("dd", {}, s.port ? String(s.port) : "–"),
        el("dt", {}, "Serves"), el("dd", {}, s.source ? "page " + s.source : "–"),
        el("dt", {}, "Clients"), el("dd", { class: "clients" }, String(s.clientCount ?? 0))),
      serverActions(s));
  }

  screens.overview = {
    title: "Overview",
    render() {
      main.replaceChildren(
        el("h1", {}, "Overview"),
        el("section", { "aria-labelledby": "h-pages" }, el("h2", { id: "h-pages" }, "Pages"),
          el("div", { class: "cards", id: "page-cards" }, st.pages.map(pageCard))),
        el("section", { "aria-labelledby": "h-servers" }, el("h2", { id: "h-servers" }, "Relay servers"),
          el("div", { class: "cards", id: "server-cards" }, st.servers.map(serverCard))));
    },
    page(n) { replaceCard("page-card-" + n, pageCard(st.pages.find((p) => p.number === n))); },
    server(n) { replaceCard("server-card-" + n, serverCard(st.servers.find((s) => s.number === n))); },
    // Values come up to four times a second a page; the cards follow once a second.
    values(n) { (this.dirty = this.dirty || new Set()).add(n); },
    tick() {
      for (const p of st.pages) if (p.open || this.dirty?.has(p.number)) this.page(p.number);
      this.dirty = new Set();
    },
  };
  function replaceCard(id, card) {
    const old = document.getElementById(id);
    if (old) morph(old, card);
  }
  // Brings `old` to look like `fresh` in place: a card drawn again each second
  // keeps its nodes, so a button being pressed, the keyboard's place and a
  // selection survive the redraw.
  function morph(old, fresh) {
    if (old.nodeType !== fresh.nodeType || old.nodeName !== fresh.nodeName) { old.replaceWith(fresh); return; }
    if (old.nodeType !== Node.ELEMENT_NODE) {
      if (old.nodeValue !== fresh.nodeValue) old.nodeValue = fresh.nodeValue;
      return;
    }
    for (const a of [...old.attributes]) if (!fresh.hasAttribute(a.name)) old.removeAttribute(a.name);
    for (const a of fresh.attributes) if (old.getAttribute(a.name) !== a.value) old.setAttribute(a.name, a.value);
    for (const [type, fn] of Object.entries(old.handlers || {})) old.removeEventListener(type, fn);
    for (const [type, fn] of Object.entries(fresh.handlers || {})) old.addEventListener(type, fn);
    old.handlers = fresh.handlers;
    const was = [...old.childNodes], now = [...fresh.childNodes];
    now.forEach((n, i) => (i < was.length ? morph(was[i], n) : old.append(n)));
    for (const n of was.slice(now.length)) n.remove();
  }

  // Page detail: values drawn once as a tree of labelled leaves, then only the
  // leaves' texts change; changed ones flash.
  function label(key) {
    return String(key).replace(/([a-z])([A-Z0-9])/g, "$1 $2").replace(/^./, (c) => c.toUpperCase());
  }
  const isCoded = (v) => v && typeof v === "object" && !Array.isArray(v) && "value" in v && "text" in v && Object.keys(v).length === 2;
  const leafText = (v) => (isCoded(v) ? v.value + (trim(v.text) ? " – " + trim(v.text) : "") : v === null ? "–" :
    typeof v === "number" ? String(Math.round(v * 1000) / 1000) : typeof v === "boolean" ? (v ? "yes" : "no") : String(v));
  const isLeaf = (v) => v === null || typeof v !== "object" || isCoded(v);
  function buildValues(v, path, leaves, depth) {
    if (Array.isArray(v) && v.every((x) => typeof x === "number" || x === null)) {
      return el("div", { class: "cells", role: "list" }, v.map((x, i) => {
        const cell = el("span", { role: "listitem", "data-path": path + "." + i, title: label(path.split(".").pop()) + " " + (i + 1) }, el("i", {}, String(i + 1)), leafText(x));
        leaves[path + "." + i] = cell;
        return cell;
      }));
    }
    const entries = Array.isArray(v) ? v.map((x, i) => [i, x]) : Object.entries(v);
    const plain = entries.filter(([, x]) => isLeaf(x));
    const nested = entries.filter(([, x]) => !isLeaf(x));
    const out = [];
    if (plain.length) {
      out.push(el("div", { class: "kv" }, plain.map(([k, x]) => {
        const val = el("span", { class: "v", "data-path": path + "." + k }, leafText(x));
        leaves[path + "." + k] = val;
        return el("div", {}, el("span", { class: "k" }, Array.isArray(v) ? "#" + (k + 1) : label(k)), val);
      })));
    }
    for (const [k, x] of nested) {
      const big = JSON.stringify(x).length > 1500;
      const name = Array.isArray(v) ? label(path.split(".").pop()) + " " + (k + 1) : label(k);
      out.push(el("details", { open: depth < 1 && !big ? true : null, "data-path": path + "." + k },
        el("summary", {}, name), buildValues(x, path + "." + k, leaves, depth + 1)));
    }
    return out;
  }
  function shape(v) { return JSON.stringify(v, (k, x) => (x === null || typeof x !== "object" ? 0 : x)); }
  function flatten(v, path, out) {
    if (isLeaf(v)) out[path] = leafText(v);
    else for (const [k, x] of Object.entries(v)) flatten(x, path + "." + k, out);
    return out;
  }

  screens.page = {
    render(n) {
      n = +n;
      const p = st.pages.find((x) => x.number === n);
      if (!p) return notFound();
      this.n = n;
      this.shape = null;
      subscribe();
      main.replaceChildren(
        el("h1", {}, el("span", { class: "muted" }, "Page " + n + " · "), trim(p.caption) || p.name),
        el("div", { id: "page-head" }),
        el("section", { "aria-labelledby": "h-values", class: "panel" },
          el("h2", { id: "h-values" }, "Values"),
          el("p", { class: "hint", id: "values-hint" }, "Waiting for the unit's values…"),
          el("div", { id: "values" })));
      this.head();
      loadDetail(n).then(() => this.head()).catch(() => {});
      api("/api/pages/" + n + "/values").then((r) => {
        if (!st.values[n]) st.values[n] = r.values;
        if (this.n === n && st.screen === "page") this.values(n);
      }).catch(() => {});
    },
    head() {
      const n = this.n, p = st.pages.find((x) => x.number === n), d = st.details[n] || {};
      const c = p.counters || {}, log = d.measurementLog;
      const table = (rows, cols) => el("div", { class: "scroll" }, el("table", {},
        el("thead", {}, el("tr", {}, cols.map(([, h]) => el("th", { scope: "col" }, h)))),
        el("tbody", {}, (rows || []).map((r) => el("tr", {}, cols.map(([k]) => el("td", {}, trim(r[k]))))))));
      const head = el("div", { class: "grid2", id: "page-head" },
        el("section", { class: "panel", "aria-labelledby": "h-ident" },
          el("h2", { id: "h-ident" }, "Identification and link"),
          el("p", {}, el("span", { class: "state " + stateClass(p), id: "page-state" }, stateWords(p)), " ", trim(p.stateText),
            silentFor(p) ? el("span", { class: "flag" }, " · silent") : null),
          el("p", {}, p.hardware, " · ", [p.link?.kind, p.link?.target].filter(Boolean).join(" "),
            p.openSince && p.open ? " · open since " + stationTime(p.openSince) : ""),
          table(d.hardwareRows, [["hardware", "Hardware"], ["unit", "Unit"], ["id", d.hardwareThirdColumn || "ID"], ["serial", "Serial"]]),
          d.connectionRows ? table(d.connectionRows, [["connection", "Connection"], ["info", "Settings"], ["status", "Status"]]) : null,
          d.identity ? el("details", {}, el("summary", {}, "Identity"), buildValues(d.identity, "identity", {}, 1)) : null,
          pageActions(p)),
        el("section", { class: "panel", "aria-labelledby": "h-counters" },
          el("h2", { id: "h-counters" }, "Counters"),
          el("div", { class: "kv" },
            [["Frames filed", c.framesFiled], ["Frames a minute", framesPerMinute(n) ?? "–"],
              ["Bytes received", c.bytesReceived], ["Bad checks", c.badFrames],
              ["Last frame", c.lastFrameAt ? ago(c.lastFrameAt) : "–"]].map(([k, v]) =>
              el("div", {}, el("span", { class: "k" }, k), el("span", { class: "v" }, String(v ?? "–"))))),
          log ? el("p", { class: "muted" }, "Measurement log: ", log.open ? trim(log.file) || "open" : "closed",
            log.size ? " (" + bytes(log.size) + ")" : "", log.writeFailures ? el("span", { class: "flag" }, " " + log.writeFailures + " write failures") : "",
            " · ", el("a", { href: "#/logs" }, "Logs")) : null));
      const old = $("#page-head");
      const ident = head.querySelector("details"), wasOpen = old.querySelector("details");
      if (ident && wasOpen) ident.open = wasOpen.open;
      const focused = old.contains(document.activeElement) ? document.activeElement.textContent : null;
      old.replaceWith(head);
      if (focused) [...head.querySelectorAll("button")].find((b) => b.textContent === focused && !b.disabled)?.focus();
    },
    page(n) { if (n === this.n) this.head(); },
    tick() { this.head(); },
    // Drawn once a frame at most: a busy or hidden tab skips updates instead of piling them up.
    values(n) {
      if (n !== this.n || this.frame) return;
      this.frame = requestAnimationFrame(() => { this.frame = 0; this.draw(n); });
    },
    draw(n) {
      if (n !== this.n) return;
      if (!this.headAt || Date.now() - this.headAt > 1000) { this.headAt = Date.now(); this.head(); }
      const v = st.values[n];
      if (!v) return;
      if (!st.firstValues[n]) st.firstValues[n] = flatten(v, "v", {});
      const box = $("#values");
      const s = shape(v);
      if (s !== this.shape) {
        // A new structure (the first values, or another family): drawn afresh.
        const open = new Set([...box.querySelectorAll("details[open]")].map((d) => d.dataset.path));
        const closed = new Set([...box.querySelectorAll("details:not([open])")].map((d) => d.dataset.path));
        this.leaves = {};
        box.replaceChildren(...buildValues(v, "v", this.leaves, 0));
        for (const d of box.querySelectorAll("details")) {
          if (open.has(d.dataset.path)) d.open = true;
          if (closed.has(d.dataset.path)) d.open = false;
        }
        this.shape = s;
        this.last = flatten(v, "v", {});
        $("#values-hint").textContent = "Values of the " + (v.family || "unit").toUpperCase() +
          " family as the unit last sent them; changed values light up briefly." +
          (v.alarmTable ? " Alarm entries changed since this page was opened are marked." : "");
      } else {
        const flat = flatten(v, "v", {});
        const changed = [];
        for (const [k, text] of Object.entries(flat)) {
          const leaf = this.leaves[k];
          if (this.last[k] === text || !leaf) continue;
          leaf.lastChild.textContent = text;
          leaf.classList.remove("chg");
          changed.push(leaf);
        }
        if (changed.length) {
          void box.offsetWidth; // one layout restarts every flash
          for (const leaf of changed) leaf.classList.add("chg");
        }
        this.last = flat;
      }
      // Alarm table entries that differ from when the page was opened.
      const first = st.firstValues[n];
      for (const [k, leaf] of Object.entries(this.leaves)) {
        if (!k.startsWith("v.alarmTable.")) continue;
        const changed = first[k] !== undefined && first[k] !== this.last[k];
        leaf.parentElement.classList.toggle("since", changed);
        leaf.title = changed ? "was " + first[k] + " when this page was opened" : "";
      }
    },
    leave() { this.n = null; subscribe(); },
  };

  // Messages: newest first, as in the window.
  screens.messages = {
    title: "Messages",
    render() {
      const filter = el("select", { id: "msg-level", onchange: () => this.draw() },
        el("option", { value: "" }, "All"), el("option", { value: "error" }, "Errors"),
        el("option", { value: "status" }, "Status"), el("option", { value: "debug" }, "Debug"));
      const search = el("input", { id: "msg-search", type: "search", placeholder: "Text in the line", oninput: () => this.draw() });
      const pause = el("button", { type: "button", id: "msg-pause", "aria-pressed": "false", onclick: () => {
        st.paused = !st.paused;
        pause.setAttribute("aria-pressed", String(st.paused));
        pause.textContent = st.paused ? "Resume" : "Pause";
        this.draw();
      } }, st.paused ? "Resume" : "Pause");
      main.replaceChildren(el("h1", {}, "Messages"),
        el("div", { class: "toolbar", role: "search" },
          el("label", {}, "Level", filter), el("label", {}, "Search", search), pause,
          el("span", { id: "msg-count", class: "muted", role: "status" })),
        el("ul", { class: "msgs", id: "msg-list", "aria-label": "Message lines, newest first" }));
      this.shown = 0;
      this.draw();
      if (!st.messagesLoaded) this.load();
    },
    async load() {
      // The last 500 lines: where the ids end, then the tail.
      try {
        const head = await api("/api/messages?after=" + Number.MAX_SAFE_INTEGER);
        const r = await api("/api/messages?after=" + Math.max(0, head.lastId - 500));
        st.messagesLoaded = true;
        // Merged with the lines the live events brought meanwhile.
        const have = new Set(st.messages.map((m) => m.id));
        st.messages.push(...r.messages.filter((m) => !have.has(m.id)));
        st.messages.sort((a, b) => a.id - b.id);
        st.lastMessageId = Math.max(st.lastMessageId, r.lastId);
        if (st.screen === "messages") this.draw();
      } catch (err) { /* shown when the session comes back */ }
    },
    messages() { if (!st.paused) this.draw(); else this.count(); },
    count() {
      const waiting = st.messages.filter((m) => m.id > this.shown).length;
      $("#msg-count").textContent = st.paused ? "Paused; " + waiting + " new lines waiting." : "";
    },
    draw() {
      const level = $("#msg-level").value, q = $("#msg-search").value.toLowerCase();
      const limit = st.paused ? this.shown : Infinity;
      const lines = [];
      for (let i = st.messages.length - 1; i >= 0 && lines.length < 1000; i--) {
        const m = st.messages[i];
        if (m.id > limit || (level && m.level !== level) || (q && !m.text.toLowerCase().includes(q))) continue;
        lines.push(el("li", { class: m.level }, m.text));
      }
      if (!st.paused) this.shown = st.lastMessageId;
      $("#msg-list").replaceChildren(...lines);
      this.count();
    },
  };

  // Relay servers with their clients.
  screens.servers = {
    title: "Relay servers",
    render() {
      main.replaceChildren(el("h1", {}, "Relay servers"), el("div", { id: "server-list" }, st.servers.map((s) => this.section(s))));
      for (const s of st.servers) {
        api("/api/servers/" + s.number).then((full) => {
          const i = st.servers.findIndex((x) => x.number === s.number);
          st.servers[i] = full;
          this.server(s.number);
        }).catch(() => {});
      }
    },
    section(s) {
      const cls = s.state === "Enabled" ? "s-ok" : s.state === "Disabled" ? "" : "s-bad";
      const c = s.counters || {};
      return el("section", { class: "panel", id: "server-" + s.number, "aria-labelledby": "server-h-" + s.number },
        el("h2", { id: "server-h-" + s.number }, "#" + s.number + " " + (s.name || "Server " + s.number), " ",
          el("span", { class: "state " + cls }, s.state)),
        el("p", { class: "muted" }, "Port " + (s.port || "–") + (s.bindAddress ? " on " + s.bindAddress : "") +
          " · serves page " + (s.source || "–") + (s.requireAuthentication ? " · log-in required" : "") +
          (s.counters ? " · " + c.recordsDelivered + " records delivered, " + c.viewersDropped + " viewers dropped, " +
            c.failedLogins + " failed log-ins" : "")),
        s.clients && s.clients.length ? el("div", { class: "scroll" }, el("table", {},
          el("caption", { class: "sr" }, "Clients of server " + s.number),
          el("thead", {}, el("tr", {}, ["Host", "Address", "User", "Level", "Since", "Data"].map((h) => el("th", { scope: "col" }, h)))),
          el("tbody", {}, s.clients.map((cl) => el("tr", {},
            el("td", {}, cl.host || "–"), el("td", {}, cl.address + ":" + cl.port), el("td", {}, cl.user ?? "–"),
            el("td", {}, cl.level ?? "–"), el("td", {}, stationTime(cl.connectedSince)),
            el("td", {}, cl.dataStarted ? "started" : "not started")))))) :
          el("p", {}, s.clients ? "No clients." : "…"),
        s.users ? el("p", { class: "muted" }, "Accounts: " + (s.users.map((u) => u.name + " (" + u.level + ")").join(", ") || "none")) : null,
        serverActions(s));
    },
    server(n) {
      const s = st.servers.find((x) => x.number === n);
      const old = document.getElementById("server-" + n);
      if (!old || !s) return;
      if (!s.users) {
        // Live events carry no accounts; keep those the first answer gave.
        const prev = this.users && this.users[n];
        if (prev) s.users = prev;
      } else {
        this.users = this.users || {};
        this.users[n] = s.users;
      }
      replaceCard("server-" + n, this.section(s));
    },
  };

  // Logs: the files, and a chart of one.
  screens.logs = {
    title: "Logs",
    async render() {
      main.replaceChildren(el("h1", {}, "Logs"), el("p", { class: "muted" }, "Loading…"));
      const r = await api("/api/logs");
      if (st.screen !== "logs") return;
      const files = r.logs.slice().sort((a, b) => (b.last || "").localeCompare(a.last || "") || a.name.localeCompare(b.name));
      main.replaceChildren(el("h1", {}, "Logs"),
        files.length ? el("div", { class: "scroll panel" }, el("table", { class: "files" },
          el("caption", { class: "sr" }, "Measurement log files"),
          el("thead", {}, el("tr", {}, ["File", "Page", "Size", "From", "To", ""].map((h, i) => el("th", { scope: "col", class: i === 2 ? "n" : null }, h)))),
          el("tbody", {}, files.map((f) => el("tr", {},
            el("td", { class: "mono" }, el("a", { href: "/api/logs/" + encodeURIComponent(f.name), download: f.name,
              "aria-label": "Download " + f.name }, f.name)),
            el("td", {}, "page " + f.page), el("td", { class: "n" }, bytes(f.size)),
            el("td", {}, stationTime(f.first)), el("td", {}, "to " + stationTime(f.last)),
            el("td", {}, el("a", { href: "#/chart/" + encodeURIComponent(f.name) }, "Chart"))))))) :
          el("p", {}, "No measurement log files yet."));
    },
  };

  screens.chart = {
    title: "Log chart",
    render(name) {
      name = decodeURIComponent(name || "");
      this.name = name;
      this.spans = [];
      const canvas = el("canvas", { role: "img", "aria-label": "Chart of " + name, tabindex: "0" });
      const summary = el("p", { id: "chart-summary", class: "muted", role: "status" }, "Loading…");
      const zoomBy = (f) => {
        const s = this.span;
        if (!s) return;
        const mid = (s.from + s.to) / 2, half = ((s.to - s.from) / 2) * f;
        this.zoom(mid - half, mid + half);
      };
      const pan = (f) => {
        const s = this.span;
        if (s) this.zoom(s.from + (s.to - s.from) * f, s.to + (s.to - s.from) * f);
      };
      canvas.addEventListener("keydown", (e) => {
        const k = { "+": () => zoomBy(0.5), "=": () => zoomBy(0.5), "-": () => zoomBy(2), ArrowLeft: () => pan(-0.25),
          ArrowRight: () => pan(0.25), Home: () => this.load({}) }[e.key];
        if (k) { e.preventDefault(); k(); }
      });
      main.replaceChildren(el("h1", {}, el("span", { class: "muted" }, "Chart · "), el("span", { class: "mono" }, name)),
        el("div", { class: "toolbar" },
          el("button", { type: "button", onclick: () => zoomBy(0.5) }, "Zoom in"),
          el("button", { type: "button", onclick: () => zoomBy(2) }, "Zoom out"),
          el("button", { type: "button", onclick: () => pan(-0.5), "aria-label": "Earlier" }, "◀"),
          el("button", { type: "button", onclick: () => pan(0.5), "aria-label": "Later" }, "▶"),
          el("button", { type: "button", onclick: () => this.load({}) }, "Whole file"),
          el("a", { href: "/api/logs/" + encodeURIComponent(name), download: name }, "Download")),
        el("div", { class: "chart panel" }, el("div", { class: "legend", id: "chart-legend" }), canvas, summary,
          el("p", { class: "hint" }, "Drag across the chart to zoom in; the keys + − ← → and Home work on the chart too.")));
      this.chart = new TimeChart(canvas, (a, b) => this.zoom(a, b));
      this.load({});
    },
    zoom(a, b) { this.load({ from: new Date(Math.max(0, a)).toISOString(), to: new Date(Math.max(a + 1000, b)).toISOString() }); },
    async load(q) {
      const qs = new URLSearchParams(q).toString();
      let r;
      try { r = await api("/api/logs/" + encodeURIComponent(this.name) + "/chart" + (qs ? "?" + qs : "")); }
      catch (err) { $("#chart-summary").textContent = err.message; return; }
      if (st.screen !== "chart") return;
      const styles = getComputedStyle(document.documentElement);
      const color = (v) => styles.getPropertyValue(v).trim();
      const step = (r.stepSeconds || 1) * 1000, start = r.from ? Date.parse(r.from) : 0;
      const series = !r.series ? [] : r.kind === "hd"
        ? [{ name: "Peak", color: color("--bad"), values: r.series.peak },
          { name: "Average", color: color("--accent"), values: r.series.average },
          { name: "Minimum", color: color("--ok"), values: r.series.minimum }]
        : [{ name: "Records a minute", color: color("--accent"), values: r.series.records }];
      const n = series.length ? series[0].values.length : 0;
      const end = start + (r.kind === "arx" ? n : n - 1) * step;
      this.span = n ? { from: start, to: end } : null;
      this.chart.set({ start, step, bars: r.kind === "arx", series });
      $("#chart-legend").replaceChildren(...series.map((s) => {
        const key = el("span", {}, s.name);
        key.style.setProperty("--c", s.color); // through the CSSOM: no inline styles under the page's policy
        return key;
      }));
      const what = r.kind === "hd" ? "Total level: peak, average and minimum" : "Records logged a minute (gaps: the unit was silent)";
      $("#chart-summary").textContent = n ? what + ", " + stationTime(r.from) + " to " +
        stationTime(new Date(end).toISOString()) + ", one point per " +
        (r.stepSeconds >= 60 ? r.stepSeconds / 60 + " min" : r.stepSeconds + " s") + " (station time)." : "Nothing logged yet.";
    },
  };

  // Alarms: active ones, the last 30 days, and (Supervisors) Alarms.CFG.
  const SEVERITY = { critical: ["Critical", "s-bad"], warning: ["Warning", "s-warn"], info: ["Info", "s-info"] };
  const CONDITIONS = {
    link_down: "Link down", unit_silent: "Unit silent", bad_checks: "Bad checks", log_write: "Log not written",
    disk_low: "Log disk low", unit_alarms: "Unit's alarm table", login_attack: "Relay log-in attack",
  };
  function noteAlarm(a) {
    const i = st.alarms.findIndex((x) => x.id === a.id);
    if (i >= 0) st.alarms[i] = a; else st.alarms.unshift(a);
    alarmBadge();
  }
  function alarmBadge() {
    const link = $("#nav a[data-screen='alarms']"), n = st.alarms.filter((a) => a.active).length;
    if (link) link.textContent = n ? "Alarms (" + n + ")" : "Alarms";
  }
  function where(a) {
    const page = st.pages.find((p) => p.number === a.page);
    return [a.page ? "Page " + a.page + (page && trim(page.caption) ? " (" + trim(page.caption) + ")" : "") : "",
      a.server ? "Relay server " + a.server : "", a.subject || ""].filter(Boolean).join(" · ") || "Station";
  }
  function alarmRow(a) {
    const [word, cls] = SEVERITY[a.severity] || [a.severity, ""];
    return el("tr", { id: "alarm-" + a.id, class: a.active ? "active" : null },
      el("td", {}, el("span", { class: "state " + cls }, word)),
      el("td", {}, el("strong", {}, CONDITIONS[a.name] || a.name), el("br"), a.text,
        a.clearText ? el("div", { class: "muted" }, a.clearText) : null,
        a.details && a.details.length ? el("ul", { class: "details" }, a.details.map((d) => el("li", { class: "mono" }, d))) : null),
      el("td", {}, where(a)),
      el("td", {}, el("time", { datetime: a.raisedAt }, stationTime(a.raisedAt))),
      el("td", {}, a.clearedAt ? el("time", { datetime: a.clearedAt }, stationTime(a.clearedAt)) : el("span", { class: "flag" }, "active")));
  }
  function alarmTable(id, caption, list, none) {
    if (!list.length) return el("p", { id, class: "muted" }, none);
    return el("table", { id, class: "alarms" }, el("caption", { class: "sr" }, caption),
      el("thead", {}, el("tr", {}, ["Severity", "Alarm", "Where", "Raised", "Cleared"].map((h) => el("th", { scope: "col" }, h)))),
      el("tbody", {}, list.map(alarmRow)));
  }

  screens.alarms = {
    title: "Alarms",
    async render() {
      main.replaceChildren(el("h1", {}, "Alarms"),
        el("section", { class: "panel", "aria-labelledby": "alarms-active-h" }, el("h2", { id: "alarms-active-h" }, "Active"),
          el("div", { id: "alarms-active", role: "status" }, "Loading…")),
        el("section", { class: "panel", "aria-labelledby": "alarms-history-h" }, el("h2", { id: "alarms-history-h" }, "Last 30 days"),
          el("div", { id: "alarms-history" }, "Loading…")),
        st.level >= 3 ? el("section", { class: "panel", id: "alarm-settings", "aria-labelledby": "alarm-settings-h" },
          el("h2", { id: "alarm-settings-h" }, "Alarm settings"), el("p", { class: "muted" }, "Loading…")) : "");
      const r = await api("/api/alarms");
      st.alarms = r.alarms;
      alarmBadge();
      if (st.screen !== "alarms") return;
      this.draw();
      if (st.level >= 3) this.settings();
    },
    alarm() { if (st.alarms) this.draw(); },
    draw() {
      const box = $("#alarms-active"), hist = $("#alarms-history");
      if (!box) return;
      box.replaceChildren(el("div", { class: "scroll" }, alarmTable("alarms-active-t", "Active alarms",
        st.alarms.filter((a) => a.active), "No active alarms.")));
      hist.replaceChildren(el("div", { class: "scroll" }, alarmTable("alarms-history-t", "Alarms of the last 30 days, newest first",
        st.alarms.filter((a) => !a.active).slice(0, 500), "No cleared alarms in the last 30 days.")));
    },
    async settings(note = "") {
      const box = $("#alarm-settings");
      let s;
      try { s = await api("/api/alarms/settings"); }
      catch (err) { if (!(err instanceof LoggedOut)) box.replaceChildren(el("h2", {}, "Alarm settings"), el("p", { class: "error" }, (note ? note + " " : "") + err.message)); return; }
      if (st.screen !== "alarms") return;
      this.loaded = s;
      const field = (key, label, attrs = {}) => {
        const id = "as-" + key;
        const input = attrs.options
          ? el("select", { id, name: key }, attrs.options.map((o) => el("option", { value: o, selected: s[key] === o }, o)))
          : el("input", Object.assign({ id, name: key, value: s[key] ?? "" }, attrs));
        return el("div", { class: "field" }, el("label", { for: id }, label), input);
      };
      const secret = (key, label) => el("div", { class: "field" }, el("label", { for: "as-" + key }, label),
        el("input", { id: "as-" + key, name: key, type: "password", autocomplete: "new-password",
          placeholder: s[key + "_set"] ? "set; type to replace" : "not set", "aria-describedby": "as-" + key + "-h" }),
        el("span", { id: "as-" + key + "-h", class: "hint" }, s[key + "_set"] ? "set" : "not set"));
      const num = { type: "number", min: "0", inputmode: "numeric" };
      const conds = Object.keys(CONDITIONS).filter((c) => (c + "_raise_s") in s);
      const err = el("p", { id: "as-error", class: "error", role: "alert" });
      const done = el("p", { id: "as-done", class: "hint", role: "status" }, note);
      const form = el("form", { id: "as-form", novalidate: true },
        el("fieldset", {}, el("legend", {}, "Conditions and hold times (seconds)"),
          el("div", { class: "scroll" }, el("table", { class: "conds" },
            el("thead", {}, el("tr", {}, ["Condition", "On", "Raise after", "Clear after"].map((h) => el("th", { scope: "col" }, h)))),
            el("tbody", {}, conds.map((c) => el("tr", {},
              el("th", { scope: "row", id: "as-c-" + c }, CONDITIONS[c]),
              el("td", {}, el("input", { type: "checkbox", name: c + "_enabled", checked: s[c + "_enabled"] === "1", "aria-labelledby": "as-c-" + c })),
              el("td", {}, el("input", Object.assign({ name: c + "_raise_s", value: s[c + "_raise_s"], "aria-label": CONDITIONS[c] + ": raise after (s)" }, num))),
              el("td", {}, el("input", Object.assign({ name: c + "_clear_s", value: s[c + "_clear_s"], "aria-label": CONDITIONS[c] + ": clear after (s)" }, num)))))))),
          el("div", { class: "fields" }, field("disk_low_percent", "Disk low below (%)", num), field("disk_low_mb", "or below (MB)", num))),
        el("fieldset", {}, el("legend", {}, "E-mail"), el("div", { class: "fields" },
          field("smtp_host", "SMTP server"), field("smtp_port", "Port", num),
          field("smtp_security", "Security", { options: ["none", "starttls", "tls"] }),
          field("smtp_user", "User", { autocomplete: "off" }), secret("smtp_password", "Password"),
          field("mail_from", "From"), field("mail_to", "To (comma-separated)"),
          field("mail_severities", "Severities"), field("mail_reminder_h", "Reminder every (h, 0 = off)", num))),
        el("fieldset", {}, el("legend", {}, "Webhooks"), el("div", { class: "fields" },
          field("webhook_url", "URLs (space-separated)"), secret("webhook_secret", "Signing secret"),
          field("webhook_severities", "Severities"), field("webhook_reminder_h", "Reminder every (h, 0 = off)", num))),
        el("div", { class: "actions" }, el("button", { type: "submit", class: "primary" }, "Save"), done), err);
      form.addEventListener("submit", (e) => { e.preventDefault(); this.save(form); });
      box.replaceChildren(el("h2", { id: "alarm-settings-h" }, "Alarm settings"),
        el("p", { class: "hint" }, "CONFIG/Alarms.CFG; the running alarms take changes from their next look."), form);
    },
    async save(form) {
      const changes = {};
      for (const input of form.elements) {
        if (!input.name) continue;
        const v = input.type === "checkbox" ? (input.checked ? "1" : "0") : input.value.trim();
        if (input.type === "password") { if (v) changes[input.name] = v; }
        else if (v !== (this.loaded[input.name] ?? "")) changes[input.name] = v;
      }
      $("#as-error").textContent = "";
      $("#as-done").textContent = "";
      if (!Object.keys(changes).length) { $("#as-done").textContent = "Nothing changed."; return; }
      try {
        await api("/api/alarms/settings", { post: true, body: changes });
      } catch (err) {
        if (!(err instanceof LoggedOut)) $("#as-error").textContent = "Not saved: " + err.message;
        return;
      }
      await this.settings("Saved.");
    },
  };

  // The station network: every station on the broker, those needing attention first.
  const HEALTH = { failed: ["Failed", "s-bad"], silent: ["Silent", "s-warn"], ok: ["OK", "s-ok"], idle: ["Idle", ""] };
  const RANK = { failed: 0, silent: 1, ok: 2, idle: 3 };
  function stationRank(s) { return !s.online ? 0 : s.failedPages ? 1 : s.silentPages ? 2 : 3; }
  screens.network = {
    title: "Network",
    async render() {
      main.replaceChildren(el("h1", {}, "Network"), el("p", { class: "muted" }, "Loading…"));
      const r = await api("/api/network");
      if (st.screen !== "network") return;
      this.net = r;
      this.stations = new Map((r.stations || []).map((s) => [s.station, s]));
      this.draw();
    },
    network(ev) {
      if (!this.net || !this.net.configured) return;
      if (ev.broker) this.net.broker = ev.broker;
      for (const s of ev.stations || []) this.stations.set(s.station, s);
      this.draw();
    },
    draw() {
      const r = this.net;
      if (!r.configured) {
        main.replaceChildren(el("h1", {}, "Network"), el("div", { class: "panel", id: "network" },
          el("p", {}, el("strong", {}, "Not configured."), " This station publishes to no broker and sees no fleet."),
          el("p", { class: "hint" }, "Name a broker in CONFIG/Network.CFG (the window's File › Station Network…) and restart the program.")));
        return;
      }
      // A redraw keeps the keyboard on the station link it was on.
      const focused = main.contains(document.activeElement) ? document.activeElement.closest("article")?.id : null;
      const list = [...this.stations.values()].sort((a, b) => stationRank(a) - stationRank(b) || a.station.localeCompare(b.station));
      const online = list.filter((s) => s.online).length, b = r.broker || {}, p = r.publisher;
      main.replaceChildren(el("h1", {}, "Network"),
        el("p", { id: "network-summary", class: "muted", role: "status" },
          "Broker " + (b.address || "–") + (b.tls ? " (TLS)" : "") + ": " + (b.state || "–") +
          (p ? " · this station publishes as " + p.station + " (" + p.state + ", " + p.queued + " waiting)" : "") +
          " · " + list.length + (list.length === 1 ? " station, " : " stations, ") + online + " online"),
        list.length ? el("div", { class: "cards", id: "network" }, list.map((s) => this.card(s)))
          : el("p", { id: "network" }, "No station has published yet."));
      if (focused) document.getElementById(focused)?.querySelector("a")?.focus();
    },
    card(s) {
      const bad = !s.online || s.failedPages, cls = bad ? "s-bad" : s.silentPages ? "s-warn" : "s-ok";
      const name = s.consoleUrl && /^https?:\/\//.test(s.consoleUrl)
        ? el("a", { href: s.consoleUrl, target: "_blank", rel: "noopener noreferrer" }, s.station) : s.station;
      const pages = (s.pages || []).slice().sort((a, b) => (RANK[a.health] ?? 4) - (RANK[b.health] ?? 4) || a.number - b.number);
      const idle = pages.filter((pg) => pg.health === "idle").map((pg) => pg.number);
      const servers = (s.servers || []).filter((v) => v.state !== "Disabled");
      return el("article", { class: "card " + cls, id: "station-" + s.station, "aria-labelledby": "station-h-" + s.station },
        el("h3", { id: "station-h-" + s.station }, name, " ",
          el("span", { class: "state " + (s.online ? "s-ok" : "s-bad") }, s.online ? "Online" : "Offline")),
        el("p", { class: "muted" }, (s.version ? "Version " + s.version + " · " : "") + "heard " + ago(s.lastHeard || s.statusAt)),
        pages.some((pg) => pg.health !== "idle") ? el("ul", { class: "npages" }, pages.filter((pg) => pg.health !== "idle").map((pg) => {
          const [word, c] = HEALTH[pg.health] || [pg.health, ""];
          return el("li", {}, el("span", { class: "state " + c }, word), " ",
            el("span", {}, "#" + pg.number + " " + (trim(pg.caption) || pg.name || "") + (pg.hardware ? " · " + pg.hardware : "")),
            pg.stateText ? el("span", { class: "muted" }, " · " + trim(pg.stateText)) : null);
        })) : el("p", { class: "muted" }, "No pages in use."),
        idle.length ? el("p", { class: "muted" }, "Idle: page" + (idle.length > 1 ? "s " : " ") + idle.join(", ")) : null,
        servers.length ? el("p", { class: "muted" }, servers.map((v) =>
          "Server " + v.number + " (port " + v.port + "): " + v.state + ", " + v.clientCount + (v.clientCount === 1 ? " client" : " clients")).join(" · ")) : null);
    },
  };

  function notFound() {
    main.replaceChildren(el("h1", {}, "Not found"), el("p", {}, el("a", { href: "#/overview" }, "Back to the overview")));
  }

  // --- routing --------------------------------------------------------------------
  function route() {
    if (!st.level) return;
    const [, name = "overview", arg] = (location.hash || "#/overview").split("/");
    const screen = screens[name] ? name : null;
    if (st.screen && st.screen !== screen) screens[st.screen].leave?.();
    st.screen = screen;
    for (const a of document.querySelectorAll("#nav a")) {
      const here = a.dataset.screen === name || (name === "page" && a.dataset.screen === "overview") ||
        (name === "chart" && a.dataset.screen === "logs");
      if (here) a.setAttribute("aria-current", "page"); else a.removeAttribute("aria-current");
    }
    if (!screen) return notFound();
    const title = screen === "page" ? "Page " + arg : screens[screen].title;
    document.title = title + " · Station console";
    Promise.resolve(screens[screen].render(arg)).catch((err) => { if (!(err instanceof LoggedOut)) toast(err.message); });
  }
  window.addEventListener("hashchange", () => { route(); main.focus({ preventScroll: true }); });
  // Times "since" age on their own.
  setInterval(() => { if (st.level && !document.hidden) screens[st.screen]?.tick?.(); }, 1000);

  // A reload keeps its session (the cookie) and asks for the token again.
  api("/api/session", { login: true }).then(begin).catch(() => loginNeeded(""));
})();
