#include "dashboard/page.h"

namespace torvane::dashboard {
namespace {

// Every text from the station reaches the page through textContent: a device's model, serial or
// cause is never read as HTML.
constexpr std::string_view kPage = R"page(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Torvane station</title>
<style>
:root {
  --bg: #10161c; --panel: #1c252e; --text: #f1f4f7; --dim: #9aa8b6;
  --waiting: #2b3743; --updating: #e3a300; --passed: #178a3a; --failed: #c62828; --skipped: #56657a;
}
* { box-sizing: border-box; }
body {
  margin: 0; background: var(--bg); color: var(--text);
  font: 18px/1.35 system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif;
}
#banner {
  position: sticky; top: 0; z-index: 1; padding: .6rem; text-align: center;
  background: #b00020; color: #fff; font-size: 1.5rem; font-weight: 800;
}
header {
  display: flex; flex-wrap: wrap; align-items: center; gap: 1rem 2.5rem;
  padding: 1rem 1.5rem; background: var(--panel);
}
#version { font-size: 2.2rem; font-weight: 800; }
#file { color: var(--dim); word-break: break-all; }
#run { font-size: 1.2rem; font-weight: 700; padding: .3rem .8rem; border-radius: .4rem; }
#run.running { background: #0d5e2a; }
#run.stopping { background: #8a5a00; }
#run.ended { background: #44505c; }
.counts { display: flex; gap: 2rem; margin-left: auto; }
.count { text-align: center; min-width: 4.5rem; }
.count b { display: block; font-size: 3rem; line-height: 1; }
.count span { color: var(--dim); font-size: .85rem; text-transform: uppercase; letter-spacing: .06em; }
.count.passed b { color: #43e070; }
.count.failed b { color: #ff6161; }
.count.skipped b { color: #b4c1ce; }
main { padding: 1.2rem 1.5rem; }
#tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(14rem, 1fr)); gap: 1rem; }
.tile {
  display: flex; flex-direction: column; gap: .3rem; min-height: 12rem; padding: 1rem;
  border-radius: .7rem; border: 4px solid transparent; background: var(--waiting);
}
.tile.updating { border-color: var(--updating); background: #3b3000; }
.tile.passed { background: var(--passed); }
.tile.failed { background: var(--failed); }
.tile.skipped { background: var(--skipped); }
.port { font-size: 1.7rem; font-weight: 800; }
.location { font: .8rem/1.2 ui-monospace, "DejaVu Sans Mono", monospace; opacity: .75; word-break: break-all; }
.model { font-size: 1.1rem; font-weight: 600; }
.state { font-size: 1.9rem; font-weight: 900; text-transform: uppercase; letter-spacing: .03em; }
.tile.updating .state { color: var(--updating); }
.bar { height: 1rem; border-radius: .5rem; overflow: hidden; background: rgba(255, 255, 255, .18); }
.bar > div { height: 100%; background: var(--updating); transition: width .2s; }
.status, .cause { overflow-wrap: anywhere; }
.cause { font-weight: 700; }
.seconds { margin-top: auto; color: rgba(255, 255, 255, .85); }
h2 { margin: 1.6rem 0 .6rem; font-size: 1.3rem; color: var(--dim); text-transform: uppercase; letter-spacing: .06em; }
#ignored { margin: 0; padding-left: 1.2rem; color: var(--dim); }
.table-wrap { overflow-x: auto; }
table { width: 100%; border-collapse: collapse; font-size: 1rem; }
th, td { padding: .45rem .6rem; text-align: left; border-bottom: 1px solid #2d3944; vertical-align: top; }
th { color: var(--dim); font-weight: 600; }
td.result { font-weight: 800; text-transform: uppercase; }
td.nowrap { white-space: nowrap; }
tr.passed td.result { color: #43e070; }
tr.failed td.result, tr.refused td.result { color: #ff6161; }
tr.skipped td.result { color: #b4c1ce; }
#empty { color: var(--dim); font-size: 1.3rem; }
@media (max-width: 640px) {
  body { font-size: 16px; }
  header, main { padding: .8rem; }
  .counts { margin-left: 0; gap: 1rem; }
  .count b { font-size: 2.2rem; }
  #tiles { grid-template-columns: 1fr; }
  .tile { min-height: 0; }
  .wide { display: none; }
}
</style>
</head>
<body>
<div id="banner" hidden>Disconnected &mdash; reconnecting&hellip;</div>
<header>
  <div><div id="version">Image</div><div id="file"></div></div>
  <div id="run"></div>
  <div class="counts">
    <div class="count passed"><b id="passed">0</b><span>passed</span></div>
    <div class="count failed"><b id="failed">0</b><span>failed</span></div>
    <div class="count skipped"><b id="skipped">0</b><span>skipped</span></div>
    <div class="count"><b id="rate">0</b><span>boards / hour</span></div>
  </div>
</header>
<main>
  <section id="tiles"></section>
  <p id="empty">No board yet: plug one in.</p>
  <section id="ignored-box" hidden><h2>Ignored</h2><ul id="ignored"></ul></section>
  <h2>Last boards</h2>
  <div class="table-wrap"><table>
    <thead><tr><th>#</th><th>Time</th><th>Port</th><th>Model</th><th>Serial</th><th>Result</th>
      <th class="wide">Version</th><th>Seconds</th><th class="wide">Status</th></tr></thead>
    <tbody id="records"></tbody>
  </table></div>
</main>
<script>
"use strict";
const byId = (id) => document.getElementById(id);
const LABELS = { waiting: "Waiting", updating: "Updating", passed: "Passed", failed: "Failed",
                 skipped: "Skipped" };

// An element with a class and a text; the text is never read as HTML.
function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined && text !== null) made.textContent = String(text);
  return made;
}

// The port as a short name: the last part of a location path.
function portName(location) {
  const cut = location.lastIndexOf("#");
  return cut >= 0 ? location.slice(cut + 1) : location;
}

function who(model, serial) {
  return [model, serial ? "S/N " + serial : ""].filter(Boolean).join("  \u00b7  ");
}

function seconds(value) {
  return typeof value === "number" ? value.toFixed(1) + " s" : "";
}

function tile(port) {
  const box = element("div", "tile " + port.state);
  box.dataset.location = port.location;
  box.dataset.state = port.state;
  box.append(element("div", "port", portName(port.location)),
             element("div", "location", port.location),
             element("div", "model", who(port.model, port.serial) || "\u00a0"),
             element("div", "state", LABELS[port.state] || port.state));
  if (port.state !== "waiting") box.append(element("div", "status", port.status));
  if (port.state === "updating") {
    const bar = element("div", "bar");
    const fill = element("div");
    fill.style.width = (typeof port.percent === "number" ? port.percent : 0) + "%";
    bar.append(fill);
    box.append(bar);
  }
  if (port.state === "failed" && port.cause) box.append(element("div", "cause", port.cause));
  if (port.state !== "updating") box.append(element("div", "seconds", seconds(port.seconds)));
  return box;
}

function record(board) {
  const row = element("tr", board.result);
  const time = board.time ? new Date(board.time).toLocaleTimeString([], { hourCycle: "h23" }) : "";
  const version = (board.versionBefore ?? "\u2013") + " \u2192 " + (board.versionAfter ?? "\u2013");
  const status = board.status + (board.cause ? ": " + board.cause : "");
  row.append(element("td", "", board.device), element("td", "nowrap", time),
             element("td", "", portName(board.location || "")), element("td", "", board.model),
             element("td", "", board.serial ?? ""), element("td", "result", board.result),
             element("td", "wide nowrap", version), element("td", "nowrap", seconds(board.seconds)),
             element("td", "wide", status));
  return row;
}

function render(state) {
  byId("version").textContent = "Image " + (state.imageVersion || "");
  byId("file").textContent = state.file;
  for (const count of ["passed", "failed", "skipped"]) byId(count).textContent = state.tally[count];
  byId("rate").textContent = state.boardsPerHour;
  const run = state.ended ? "ended" : state.stopping ? "stopping" : "running";
  byId("run").className = run;
  byId("run").textContent = { running: "Running", stopping: "Stopping: no new board",
                              ended: "Station ended" }[run];
  byId("tiles").replaceChildren(...state.tiles.map(tile));
  byId("empty").hidden = state.tiles.length > 0;
  byId("ignored-box").hidden = state.ignored.length === 0;
  byId("ignored").replaceChildren(...state.ignored.map(
      (device) => element("li", "", portName(device.location) + "  " + who(device.model, device.serial))));
  byId("records").replaceChildren(...state.records.map(record));
}

// EventSource asks again by itself after a dropped connection; one that gave up (an answer that
// was not the events) is made anew, so that a station started again is found.
function connect() {
  const source = new EventSource("events");
  const connected = () => { byId("banner").hidden = true; };
  source.onopen = connected;
  source.onmessage = (message) => { connected(); render(JSON.parse(message.data)); };
  source.onerror = () => {
    byId("banner").hidden = false;
    if (source.readyState === EventSource.CLOSED) {
      source.close();
      setTimeout(connect, 2000);
    }
  };
}
connect();
</script>
</body>
</html>
)page";

}  // namespace

std::string_view PageHtml() {
    return kPage;
}

}  // namespace torvane::dashboard
