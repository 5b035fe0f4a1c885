// The line view's pages: each fetches the JSON API and renders what it got.
// Data goes into the page only as text (textContent, attribute values):
// journal records hold whatever a router answered.
"use strict";

(function () {
  const SVG = "http://www.w3.org/2000/svg";
  const STAGES = ["mac", "boot", "firmware"];
  const STAGE_NAMES = { mac: "MAC", boot: "Boot", firmware: "Firmware" };

  // ---- building blocks -------------------------------------------------

  // el("td", {class: "num", "data-field": "runs"}, "12", otherNode)
  function el(tag, attributes, ...children) {
    const node = document.createElement(tag);
    setAttributes(node, attributes);
    append(node, children);
    return node;
  }

  function svg(tag, attributes, ...children) {
    const node = document.createElementNS(SVG, tag);
    setAttributes(node, attributes);
    append(node, children);
    return node;
  }

  function setAttributes(node, attributes) {
    for (const [name, value] of Object.entries(attributes || {}))
      if (value !== undefined && value !== null && value !== false) node.setAttribute(name, String(value));
  }

  function append(node, children) {
    for (const child of children) {
      if (child === undefined || child === null || child === false) continue;
      node.appendChild(child instanceof Node ? child : document.createTextNode(String(child)));
    }
  }

  function link(href, text, attributes) {
    return el("a", Object.assign({ href: href }, attributes || {}), text);
  }

  function runLink(run, text) {
    return link("/run?id=" + encodeURIComponent(str(run)), text === undefined ? str(run) : text);
  }

  function addressLink(mac) {
    return mac ? link("/address?mac=" + encodeURIComponent(str(mac)), str(mac), { class: "mono" }) : "—";
  }

  // A field of a record as text, whatever its type: records come from any
  // station's disk or the database, and a page never throws on one.
  function str(value) {
    if (value === undefined || value === null) return "";
    if (typeof value === "string") return value;
    if (typeof value === "number" || typeof value === "boolean") return String(value);
    try {
      return JSON.stringify(value);
    } catch (e) {
      return String(value);
    }
  }

  function list(value) {
    return Array.isArray(value) ? value : [];
  }

  function object(value) {
    return value !== null && typeof value === "object" && !Array.isArray(value) ? value : {};
  }

  function badge(result) {
    const text = str(result) || "—";
    return el("span", { class: "result " + text.replace(/\s+/g, "-") }, text);
  }

  // Where a unit page's answer comes from: the line's database or this station's own files.
  function kept(unit) {
    return unit.source === "station" ? "in this station's units file" : "in the line database";
  }

  function byId(id) {
    return document.getElementById(id);
  }

  function query() {
    return new URLSearchParams(window.location.search);
  }

  // ---- figures -----------------------------------------------------------

  function count(n) {
    return typeof n === "number" && isFinite(n) ? String(Math.round(n)) : "—";
  }

  function percent(x) {
    return typeof x === "number" && isFinite(x) ? (x * 100).toFixed(1) + "%" : "—";
  }

  function seconds(ms) {
    return typeof ms === "number" && isFinite(ms) ? (ms / 1000).toFixed(1) + "s" : "—";
  }

  function decimal(x) {
    return typeof x === "number" && isFinite(x) ? x.toFixed(1) : "—";
  }

  function pad(n, width) {
    return String(n).padStart(width || 2, "0");
  }

  // A journal time in the PC's own time, to the second: what the line sees on its clocks.
  function localTime(iso) {
    const d = new Date(iso);
    if (!iso || isNaN(d)) return iso || "—";
    return d.getFullYear() + "-" + pad(d.getMonth() + 1) + "-" + pad(d.getDate()) + " " + pad(d.getHours()) + ":" +
      pad(d.getMinutes()) + ":" + pad(d.getSeconds());
  }

  function timeCell(iso) {
    iso = str(iso);
    return el("time", { datetime: iso, title: iso }, localTime(iso));
  }

  function duration(fromIso, toIso) {
    const ms = new Date(toIso) - new Date(fromIso);
    if (!isFinite(ms) || ms < 0) return "—";
    const s = Math.round(ms / 1000);
    if (s < 60) return (ms / 1000).toFixed(1) + "s";
    if (s < 3600) return Math.floor(s / 60) + "m " + pad(s % 60) + "s";
    return Math.floor(s / 3600) + "h " + pad(Math.floor(s / 60) % 60) + "m";
  }

  // ---- the API -----------------------------------------------------------

  class ApiError extends Error {
    constructor(status, reason) {
      super(reason);
      this.status = status;
    }
  }

  async function api(path) {
    let response;
    try {
      response = await fetch(path, { cache: "no-store", headers: { Accept: "application/json" } });
    } catch (e) {
      throw new ApiError(0, "The station's server does not answer");
    }
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      body = null;
    }
    if (!response.ok) {
      const reason = body && typeof body.error === "string" ? body.error : "HTTP " + response.status;
      throw new ApiError(response.status, reason);
    }
    if (body === null || typeof body !== "object") throw new ApiError(response.status, "The answer is not JSON");
    return body;
  }

  function showError(reason) {
    document.body.dataset.error = reason;
    const banner = byId("banner");
    if (banner) banner.textContent = reason;
  }

  function clearError() {
    delete document.body.dataset.error;
    const banner = byId("banner");
    if (banner) banner.textContent = "";
  }

  function loaded() {
    document.body.dataset.loaded = "1";
  }

  function status(text) {
    const node = byId("status");
    if (node) node.textContent = text;
  }

  function emptyRow(columns, text) {
    return el("tr", null, el("td", { colspan: columns, class: "empty" }, text));
  }

  // ---- Line page -----------------------------------------------------------

  const line = {
    span: "8h",
    timer: 0,
    generation: 0,

    start() {
      this.span = query().get("span") || "8h";
      for (const a of document.querySelectorAll("#spans a")) {
        a.addEventListener("click", (event) => {
          if (event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey) return;
          event.preventDefault();
          this.span = a.dataset.span;
          history.pushState(null, "", a.getAttribute("href"));
          this.refresh();
        });
      }
      window.addEventListener("popstate", () => {
        this.span = query().get("span") || "8h";
        this.refresh();
      });
      this.refresh();
    },

    // One fetch at a time; the next one 5 s after the last answer.
    async refresh() {
      clearTimeout(this.timer);
      const generation = ++this.generation;
      this.markSpan();
      try {
        const summary = await api("/api/summary?span=" + encodeURIComponent(this.span));
        if (generation !== this.generation) return;
        this.render(summary);
        clearError();
        status("updated " + localTime(new Date().toISOString()).slice(11));
        loaded();
      } catch (e) {
        if (generation !== this.generation) return;
        showError(e.message);
        status("not updated");
      }
      this.timer = setTimeout(() => this.refresh(), 5000);
    },

    markSpan() {
      for (const a of document.querySelectorAll("#spans a")) {
        if (a.dataset.span === this.span) a.setAttribute("aria-current", "true");
        else a.removeAttribute("aria-current");
      }
    },

    render(s) {
      const figure = (name, text) => {
        const node = document.querySelector('[data-figure="' + name + '"]');
        if (node && node.textContent !== text) node.textContent = text;
      };
      figure("routers", count(s.routers));
      figure("runs", count(s.runs));
      figure("succeeded", count(s.succeeded));
      figure("failed", count(s.failed));
      figure("interrupted", count(s.interrupted));
      figure("first-pass-yield", percent(s.firstPassYield));
      byId("span-text").textContent = "since " + localTime(s.from).slice(0, 16);
      byId("first-pass-text").textContent =
        count(s.firstPassRouters) + " of " + count(s.routers) + " routers right the first time";
      document.title = "Line " + (s.span || this.span) + " · Vornix line view";

      this.chart(s.hours || []);
      this.stations(s.stations || []);
      this.failures(s.failures || []);
      this.stages(s.stages || []);
      this.pools(s.pools || [], s.sources || {});
      this.sources(s.sources || {});
    },

    stations(stations) {
      const rows = stations.flatMap((st) => {
        const share = typeof st.yield === "number" ? Math.max(0, Math.min(1, st.yield)) : 0;
        // Through the style object: the server's policy refuses style attributes.
        const meter = el("div");
        meter.style.width = (share * 100).toFixed(1) + "%";
        const row = el("tr", { "data-station": st.station },
          el("td", null, link("/runs?station=" + encodeURIComponent(st.station), st.station)),
          el("td", { class: "num", "data-field": "runs" }, count(st.runs)),
          el("td", { class: "num", "data-field": "routers" }, count(st.routers)),
          el("td", { class: "num", "data-field": "succeeded" }, count(st.succeeded)),
          el("td", { class: "num", "data-field": "failed" }, count(st.failed)),
          el("td", { class: "num", "data-field": "interrupted" }, count(st.interrupted)),
          el("td", { class: "num", "data-field": "yield" }, percent(st.yield)),
          el("td", { class: "bar-cell" }, el("div", { class: "meter" }, meter)));
        const ports = list(st.ports);
        return ports.length ? [row, this.ports(st.station, ports)] : [row];
      });
      byId("stations").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(8, "No runs in this span")]));
    },

    // A gang station's ports, in a row of their own under it: a worn slot or
    // a bad cable shows as one port's yield and failure.
    ports(station, ports) {
      const rows = ports.map(object).map((p) => {
        const top = object(p.topFailure);
        return el("tr", { "data-port": str(p.port) },
          el("td", { class: "num", "data-field": "port" }, str(p.port)),
          el("td", { class: "mono", "data-field": "interface" }, str(p.interface)),
          el("td", { class: "num", "data-field": "runs" }, count(p.runs)),
          el("td", { class: "num", "data-field": "yield" }, percent(p.yield)),
          el("td", { class: "wrap", "data-field": "top-failure" }, p.topFailure ? str(top.line) : "—"),
          el("td", { class: "num", "data-field": "top-failure-count" }, p.topFailure ? count(top.count) : ""));
      });
      const head = el("tr", null, el("th", { class: "num" }, "Port"), el("th", null, "Interface"),
        el("th", { class: "num" }, "Runs"), el("th", { class: "num" }, "Yield"), el("th", null, "Most frequent failure"),
        el("th", { class: "num" }, "Count"));
      return el("tr", { "data-ports": station },
        el("td", { colspan: 8, class: "ports-cell" },
          el("table", { class: "ports" }, el("thead", null, head), el("tbody", null, ...rows))));
    },

    failures(failures) {
      const rows = failures.map((f) =>
        el("tr", { "data-failure": "" },
          el("td", { class: "wrap", "data-field": "line" }, f.line),
          el("td", { class: "num", "data-field": "count" }, count(f.count))));
      byId("failures").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(2, "No failures in this span")]));
    },

    stages(stages) {
      const rows = stages.map((st) =>
        el("tr", { "data-stage": st.stage },
          el("td", null, STAGE_NAMES[st.stage] || st.stage),
          el("td", { class: "num", "data-field": "runs" }, count(st.runs)),
          el("td", { class: "num", "data-field": "median" }, seconds(st.medianMs)),
          el("td", { class: "num", "data-field": "p90" }, seconds(st.p90Ms))));
      byId("stages").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(4, "No stage ran in this span")]));
    },

    pools(pools, sources) {
      const rows = pools.map((p) =>
        el("tr", { "data-pool": p.name },
          el("td", { class: "nowrap" }, p.name),
          // First and last on lines of their own: the table fits a half-width panel.
          el("td", { class: "mono nowrap" }, el("div", {}, p.first || ""), el("div", {}, "– " + (p.last || ""))),
          el("td", { class: "num", "data-field": "used" }, count(p.used)),
          el("td", { class: "num", "data-field": "held" }, count(p.held)),
          el("td", { class: "num", "data-field": "free" }, count(p.free)),
          el("td", { class: "num", "data-field": "per-day" }, decimal(p.perDay)),
          el("td", { class: "num", "data-field": "days-left" }, decimal(p.daysLeft))));
      const none = sources.database ? "No pools in the line database" : "No line database: this station's journal only";
      byId("pools").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(7, none)]));
    },

    sources(sources) {
      const parts = ["Journal: " + (sources.journal || "—")];
      parts.push("line database: " + (sources.database ? "yes" : "no"));
      if (sources.databaseError) parts.push("database error: " + sources.databaseError);
      parts.push("span " + this.span + ", refreshed every 5 s");
      byId("sources").textContent = parts.join(" · ");
    },

    // Runs per hour, succeeded below and failed (with interrupted) above.
    chart(hours) {
      const chart = document.querySelector('svg[data-chart="hours"]');
      const width = Math.max(300, Math.round(chart.getBoundingClientRect().width || 900));
      const height = 190;
      const left = 34, right = 8, top = 8, bottom = 22;
      const plotW = width - left - right, plotH = height - top - bottom;
      chart.setAttribute("viewBox", "0 0 " + width + " " + height);

      let max = 0;
      for (const h of hours) max = Math.max(max, (h.succeeded || 0) + (h.failed || 0));
      const step = niceStep(max);
      const top_ = Math.max(step * Math.ceil(max / step), step);
      const y = (v) => top + plotH - (v / top_) * plotH;

      const parts = [];
      for (let v = 0; v <= top_; v += step) {
        parts.push(svg("line", { class: "grid-line", x1: left, x2: width - right, y1: y(v), y2: y(v) }));
        parts.push(svg("text", { x: left - 5, y: y(v) + 3, "text-anchor": "end" }, String(v)));
      }
      const n = Math.max(hours.length, 1);
      const slot = plotW / n;
      const barW = Math.max(1, Math.min(slot * 0.78, 40));
      // Labels on whole hours of the clock (every 1, 2, 3, 6, 12 or 24 h), at least 46 px apart.
      const labelEvery = [1, 2, 3, 6, 12, 24].find((h) => h * slot >= 46) || 24;
      hours.forEach((h, i) => {
        const x = left + i * slot + (slot - barW) / 2;
        const start = new Date(h.hour);
        const label = pad(start.getHours()) + ":00";
        const title = localTime(h.hour).slice(0, 16) + " — " + (h.succeeded || 0) + " succeeded, " + (h.failed || 0) +
          " failed";
        let base = 0;
        for (const kind of ["succeeded", "failed"]) {
          const v = h[kind] || 0;
          if (v > 0) {
            parts.push(svg("rect", {
              x: x.toFixed(1), y: y(base + v).toFixed(1), width: barW.toFixed(1),
              height: Math.max(0.5, y(base) - y(base + v)).toFixed(1),
              "data-hour": h.hour, "data-kind": kind, "data-count": v,
            }, svg("title", null, title)));
          }
          base += v;
        }
        if (start.getHours() % labelEvery === 0) {
          const text = start.getHours() === 0 && hours.length > 24
            ? pad(start.getMonth() + 1) + "-" + pad(start.getDate())
            : label;
          parts.push(svg("text", { x: (left + i * slot + slot / 2).toFixed(1), y: height - 6, "text-anchor": "middle" },
            text));
        }
      });
      parts.push(svg("line", { class: "axis", x1: left, x2: width - right, y1: y(0), y2: y(0) }));
      chart.replaceChildren(...parts);
    },
  };

  // 1, 2, 5, 10, 20, ... so that about four grid lines fit.
  function niceStep(max) {
    const rough = Math.max(max, 1) / 4;
    const magnitude = Math.pow(10, Math.floor(Math.log10(rough)));
    for (const m of [1, 2, 5, 10]) if (m * magnitude >= rough) return Math.max(1, m * magnitude);
    return Math.max(1, 10 * magnitude);
  }

  // ---- Runs page -----------------------------------------------------------

  // A run's ticked stages, a chip each with its result and time.
  function stageChips(ticked, stages) {
    const cell = el("td", { "data-field": "stages" });
    for (const key of list(ticked).map(str)) {
      const st = object(object(stages)[key]);
      const result = str(st.result) || "not run";
      cell.appendChild(el("span", {
        class: "stage-chip " + result.replace(/\s+/g, "-"),
        title: (STAGE_NAMES[key] || key) + ": " + result + (st.failure ? " — " + str(st.failure) : ""),
      }, (STAGE_NAMES[key] || key) + " " + (result === "succeeded" ? "✓" : result === "failed" ? "✗" : "–") +
        (typeof st.ms === "number" && result !== "not run" ? " " + seconds(st.ms) : "")));
    }
    if (!list(ticked).length) cell.appendChild(el("span", { class: "stage-chip not-run" }, "reachability only"));
    return cell;
  }

  // datetime-local holds the PC's own time without a zone; the API wants UTC.
  function toIso(local) {
    const d = new Date(local);
    return local && !isNaN(d) ? d.toISOString() : "";
  }

  function toLocalInput(iso) {
    const d = new Date(iso);
    if (!iso || isNaN(d)) return "";
    return d.getFullYear() + "-" + pad(d.getMonth() + 1) + "-" + pad(d.getDate()) + "T" + pad(d.getHours()) + ":" +
      pad(d.getMinutes()) + ":" + pad(d.getSeconds());
  }

  const FILTERS = ["station", "result", "stage", "from", "to"];

  const runs = {
    async start() {
      const q = query();
      const form = byId("filters");
      for (const name of FILTERS) {
        const value = q.get(name) || "";
        form.elements[name].value = name === "from" || name === "to" ? toLocalInput(value) : value;
      }
      form.addEventListener("submit", (event) => {
        event.preventDefault();
        const next = new URLSearchParams();
        for (const name of FILTERS) {
          let value = form.elements[name].value.trim();
          if (name === "from" || name === "to") value = toIso(value);
          if (value) next.set(name, value);
        }
        const text = next.toString();
        window.location.assign("/runs" + (text ? "?" + text : ""));
      });
      this.stationNames();

      const params = new URLSearchParams();
      for (const name of FILTERS.concat(["page"])) if (q.get(name)) params.set(name, q.get(name));
      params.set("size", "50");
      try {
        const answer = await api("/api/runs?" + params.toString());
        this.render(answer, q);
        clearError();
      } catch (e) {
        showError(e.message);
        byId("runs").tBodies[0].replaceChildren(emptyRow(7, e.message));
      }
      loaded();
    },

    // The stations the line knows, for the station field's suggestions.
    async stationNames() {
      try {
        const summary = await api("/api/summary?span=7d");
        byId("station-names").replaceChildren(...(summary.stations || []).map((s) => el("option", { value: s.station })));
      } catch (e) {
        // Only suggestions: the page works without them.
      }
    },

    render(answer, q) {
      const rows = (answer.runs || []).map((r) => {
        const stages = stageChips(r.ticked, r.stages);
        return el("tr", { "data-run": r.run },
          el("td", null, Object.assign(runLink(r.run, localTime(r.started)), { title: r.started })),
          el("td", null, r.station),
          el("td", { class: "mono" }, r.router || "—"),
          stages,
          el("td", null, badge(r.result)),
          el("td", null, addressLink(r.firstMac)),
          el("td", { class: "num" }, duration(r.started, r.ended)));
      });
      byId("runs").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(7, "No runs match")]));

      const total = answer.total || 0, page = answer.page || 1, size = answer.size || 50;
      const pages = Math.max(1, Math.ceil(total / size));
      const pageLink = (p, text) => {
        if (p < 1 || p > pages || p === page) return el("span", { class: "off" }, text);
        const next = new URLSearchParams(q);
        next.set("page", String(p));
        return link("/runs?" + next.toString(), text);
      };
      byId("pager").replaceChildren(
        pageLink(1, "« first"), pageLink(page - 1, "‹ newer"),
        el("span", null, "page " + page + " of " + pages),
        pageLink(page + 1, "older ›"), pageLink(pages, "last »"),
        el("span", { class: "count" }, total + (total === 1 ? " run" : " runs")));
      status(total + " runs");
    },
  };

  // ---- Run page ------------------------------------------------------------

  const run = {
    async start() {
      const id = query().get("id") || "";
      document.querySelector('[data-field="run"]').textContent = id || "—";
      if (!id) {
        showError("No run named: open a run from the Runs page");
        loaded();
        return;
      }
      try {
        const answer = await api("/api/run?id=" + encodeURIComponent(id));
        await this.render(answer);
        clearError();
      } catch (e) {
        showError(e.status === 404 ? "No run " + id + " in the records" : e.message);
      }
      loaded();
    },

    async render(answer) {
      const r = object(answer.record);
      document.querySelector('[data-field="run"]').textContent = str(r.run);
      const result = document.querySelector('[data-field="result"]');
      result.textContent = str(r.result) || "—";
      result.className = "result " + str(r.result).replace(/\s+/g, "-");
      document.title = "Run " + str(r.router) + " " + localTime(str(r.started)) + " · Vornix line view";

      const boot = object(r.boot), firmware = object(r.firmware);
      const facts = [
        ["Station", str(r.station)],
        ["Router", r.router ? str(r.router) + (r.routerFound === false ? " (did not answer)" : "") : "—"],
        ["Started", timeCell(r.started)],
        ["Ended", timeCell(r.ended)],
        ["Duration", duration(str(r.started), str(r.ended))],
        ["Program", str(r.program)],
        ["Source", str(answer.source)],
      ];
      if (r.reusedBlockOf) facts.push(["Block of", runLink(r.reusedBlockOf)]);
      if (r.boot) facts.push(["Boot loader", "expected " + (str(boot.expected) || "—") + ", found " + (str(boot.found) || "—")]);
      if (r.firmware) facts.push(["Firmware", str(firmware.variant) || "—"]);
      byId("facts").replaceChildren(...facts.flatMap(([name, value]) =>
        [el("dt", null, name), el("dd", null, value === undefined || value === "" ? "—" : value)]));

      const stages = [];
      for (const key of STAGES) {
        const st = object(r.stages)[key];
        if (!st) continue;
        const stage = object(st);
        stages.push(el("tr", { "data-stage": key },
          el("td", null, STAGE_NAMES[key]),
          el("td", { "data-field": "result" }, badge(stage.result)),
          el("td", { class: "num", "data-field": "ms" }, stage.result === "not run" ? "—" : seconds(stage.ms)),
          el("td", { class: "wrap", "data-field": "failure" }, str(stage.failure))));
      }
      byId("stages").tBodies[0].replaceChildren(...(stages.length ? stages
        : [emptyRow(4, r.result === "interrupted" ? "The run was interrupted" : "No stage ticked: reachability only")]));

      const mac = object(r.mac);
      byId("mac-panel").hidden = !r.mac;
      byId("block-text").textContent = r.mac
        ? "start_mac " + (str(mac.startMacBefore) || "—") + " → " + (str(mac.startMacAfter) || "—") : "";
      const addresses = list(mac.addresses).map(object).map((a) =>
        el("tr", { "data-address": "" },
          el("td", { "data-field": "name" }, str(a.name)),
          el("td", { "data-field": "written" }, addressLink(a.written)),
          el("td", { class: "mono" + (a.readBack && str(a.readBack).toLowerCase() !== str(a.written).toLowerCase() ? " mismatch" : ""),
            "data-field": "readBack" }, str(a.readBack) || "—")));
      byId("addresses").tBodies[0].replaceChildren(...(addresses.length ? addresses : [emptyRow(3, "No address written")]));

      const environment = list(mac.environment).map(object).map((e) =>
        el("tr", { "data-env": "" },
          el("td", { "data-field": "name" }, str(e.name)),
          el("td", { class: "wrap mono", "data-field": "value" }, str(e.value))));
      byId("env-panel").hidden = !environment.length;
      byId("environment").tBodies[0].replaceChildren(...environment);

      document.querySelector('[data-field="log"]').textContent =
        Array.isArray(r.log) ? r.log.map(str).join("\n") : str(r.log);

      const panel = byId("transcript-panel");
      const pre = document.querySelector('[data-field="transcript"]');
      const transcript = str(r.transcript);
      if (answer.transcriptAvailable === true && transcript) {
        const url = str(answer.transcriptUrl);
        const href = url.startsWith("/transcripts/") ? url
          : "/transcripts/" + encodeURIComponent(transcript.replace(/^transcripts\//, ""));
        byId("transcript-link").replaceChildren(link(href, transcript, { class: "mono" }));
        pre.textContent = await transcriptHead(href);
      } else {
        byId("transcript-link").textContent = transcript ? transcript + " (not on this station)" : "none kept";
        panel.hidden = !transcript;
        pre.textContent = "";
      }
    },
  };

  // A transcript may be far larger than a page should hold: its first
  // TRANSCRIPT_HEAD bytes, and a line saying where the whole file is.
  const TRANSCRIPT_HEAD = 256 * 1024;

  async function transcriptHead(href) {
    let response;
    try {
      response = await fetch(href, { cache: "no-store" });
    } catch (e) {
      return "The transcript cannot be read";
    }
    if (!response.ok) return "The transcript cannot be read (HTTP " + response.status + ")";
    const size = Number(response.headers.get("Content-Length"));
    if (!response.body || !(size > TRANSCRIPT_HEAD)) return await response.text();
    const reader = response.body.getReader();
    const parts = [];
    let got = 0;
    try {
      while (got < TRANSCRIPT_HEAD) {
        const { done, value } = await reader.read();
        if (done) break;
        parts.push(value);
        got += value.length;
      }
    } finally {
      reader.cancel().catch(() => {});
    }
    const head = new Uint8Array(Math.min(got, TRANSCRIPT_HEAD));
    let at = 0;
    for (const part of parts) {
      const take = Math.min(part.length, head.length - at);
      head.set(part.subarray(0, take), at);
      at += take;
    }
    return new TextDecoder().decode(head) + "\n[… the first " + (head.length / 1024) + " KiB of " +
      (size / 1048576).toFixed(1) + " MiB: the link above opens the whole transcript]";
  }

  // ---- Address page --------------------------------------------------------

  const address = {
    async start() {
      const mac = (query().get("mac") || "").trim();
      byId("mac").value = mac;
      if (!mac) {
        loaded();
        return;
      }
      byId("answer-panel").hidden = false;
      const answer = byId("address-answer");
      try {
        const a = await api("/api/address?mac=" + encodeURIComponent(mac));
        this.render(answer, a);
        clearError();
      } catch (e) {
        answer.removeAttribute("data-found");
        answer.className = "error";
        answer.replaceChildren(el("p", { class: "verdict" }, e.status === 400 ? "Not an address: " + e.message : e.message));
        if (e.status !== 400) showError(e.message);
      }
      loaded();
    },

    render(answer, a) {
      answer.className = "";
      if (!a.found) {
        answer.dataset.found = "no";
        answer.replaceChildren(el("p", { class: "verdict" },
          el("span", { class: "mono", "data-field": "mac" }, a.mac), " was never handed out."));
        return;
      }
      answer.dataset.found = "yes";
      const block = a.block || {};
      const blockText = (block.first || "—") + (block.count ? ", " + block.count + (block.count === 1 ? " address" : " addresses") : "") +
        (block.pool ? ", pool " + block.pool : "");
      const facts = [
        ["Address", el("span", { class: "mono", "data-field": "mac" }, a.mac)],
        ["Variable", a.name || "—"],
        ["Run", runLink(a.run)],
        ["Station", el("span", { "data-field": "station" }, a.station)],
        ["Router", el("span", { class: "mono", "data-field": "router" }, a.router || "—")],
        ["Time", el("span", { "data-field": "time" }, timeCell(a.time))],
        ["Block", el("span", { class: "mono", "data-field": "block" }, blockText)],
        ["Source", a.source],
      ];
      facts[2][1].setAttribute("data-field", "run");
      answer.replaceChildren(
        el("p", { class: "verdict" }, a.spent === true
          ? "Spent: written to a router by a run of station " + a.station + " that never verified it; handed out to no other router."
          : "Handed out to router " + (a.router || "—") + " at station " + a.station + "."),
        el("dl", { class: "facts" }, ...facts.flatMap(([name, value]) => [el("dt", null, name), el("dd", null, value)])));
    },
  };

  // ---- Unit page -----------------------------------------------------------

  const unit = {
    async start() {
      const key = (query().get("key") || "").trim();
      byId("key").value = key;
      if (!key) {
        loaded();
        return;
      }
      byId("answer-panel").hidden = false;
      const answer = byId("unit-answer");
      try {
        const u = await api("/api/unit?key=" + encodeURIComponent(key));
        this.render(answer, u);
        clearError();
      } catch (e) {
        answer.removeAttribute("data-found");
        answer.className = "error";
        answer.replaceChildren(el("p", { class: "verdict" }, e.status === 400 ? "Not a serial or an address: " + e.message : e.message));
        if (e.status !== 400) showError(e.message);
      }
      loaded();
    },

    render(answer, u) {
      answer.className = "";
      if (!u.found) {
        answer.dataset.found = "no";
        answer.replaceChildren(el("p", { class: "verdict" },
          "No unit ", el("span", { class: "mono", "data-field": "key" }, str(u.key)), " " + kept(u) + "."));
        return;
      }
      answer.dataset.found = "yes";
      const block = object(u.block);
      const versions = list(u.versions).map(str);
      const facts = [
        ["Serial", el("span", { class: "mono", "data-field": "serial" }, str(u.serial))],
        ["Block", el("span", { class: "mono", "data-field": "block" },
          str(block.first) + " – " + str(block.last) + " (" + count(block.count) + ")")],
        ["Pool", el("span", { "data-field": "pool" }, str(u.pool) || "—")],
        ["Bound", el("span", { "data-field": "bound-at" }, timeCell(u.boundAt))],
        ["Bound by", Object.assign(runLink(u.boundBy), { title: "the run that gave the unit its block" })],
        ["Versions found", el("span", { "data-field": "versions" }, versions.length ? versions.join(", ") : "—")],
      ];
      // Every print of its labels and every reprint, a line each.
      const labels = list(u.labels).map(object);
      if (labels.length) {
        facts.push(["Labels", el("span", { "data-field": "labels" }, ...labels.map((l) =>
          el("div", { "data-label": l.reprint ? "reprint" : "print" },
            localTime(str(l.time)) + " · " + str(l.result) + " · " + str(l.printer) +
            (l.reprint ? " · reprint" + (str(l.reason) ? ": " + str(l.reason) : "") : ""))))]);
      }
      answer.replaceChildren(
        el("p", { class: "verdict" }, "Unit " + str(u.serial) + ": " + list(u.runs).length +
          (list(u.runs).length === 1 ? " run" : " runs") + " " + kept(u) + "."),
        el("dl", { class: "facts" }, ...facts.flatMap(([name, value]) => [el("dt", null, name), el("dd", null, value)])));

      const rows = list(u.runs).map(object).map((r) => {
        const mac = object(r.mac);
        const first = object(list(mac.addresses)[0]);
        const failures = STAGES.map((key) => str(object(object(r.stages)[key]).failure)).filter((line) => line);
        return el("tr", { "data-run": str(r.run) },
          el("td", null, Object.assign(runLink(r.run, r.started ? localTime(str(r.started)) : str(r.run)), { title: str(r.started) })),
          el("td", { "data-field": "station" }, str(r.station)),
          el("td", { class: "num", "data-field": "port" }, r.port ? str(r.port) : "—"),
          stageChips(r.ticked, r.stages),
          el("td", { "data-field": "result" }, r.refused ? str(r.refused) : badge(r.result)),
          el("td", null, addressLink(str(first.written))),
          el("td", { class: "wrap", "data-field": "failure" }, failures.join(" · ")));
      });
      byId("unit-runs-panel").hidden = false;
      byId("unit-runs").tBodies[0].replaceChildren(...(rows.length ? rows : [emptyRow(7, "No run of this unit is recorded")]));
      status(rows.length + (rows.length === 1 ? " run" : " runs"));
    },
  };

  // ---- start ---------------------------------------------------------------

  const pages = { line: line, runs: runs, run: run, address: address, unit: unit };
  function start() {
    const page = pages[document.body.dataset.page];
    if (page) page.start();
  }
  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
