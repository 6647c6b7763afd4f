#include "simulator/web_page.h"

namespace vexlan::sim {

// One page, nothing fetched from elsewhere. It keeps one section per device and updates it in place
// from the event stream (/events), fetches a screen's picture only when its version changed (at most
// one request per screen at a time, always the newest), and sends the controls one after another.
const char kPanelPage[] = R"page(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>vexlan: simulated panels</title>
<style>
  body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #1d2024; color: #e4e6e8; }
  header { display: flex; flex-wrap: wrap; gap: 1.5em; align-items: center; padding: .6em 1em;
           background: #2a2e33; border-bottom: 1px solid #3a3f45; }
  header h1 { font-size: 1.1em; margin: 0; }
  #status { padding: .1em .6em; border-radius: 1em; background: #6b2b2b; }
  #status.live { background: #2b6b3a; }
  main { display: flex; flex-wrap: wrap; gap: 1em; padding: 1em; align-items: flex-start; }
  section { background: #2a2e33; border: 1px solid #3a3f45; border-radius: 6px; padding: .7em; width: 340px; }
  section.unplugged { opacity: .55; }
  section h2 { font-size: 1em; margin: 0 0 .4em; display: flex; gap: .6em; align-items: center; }
  .badge { font-size: .8em; font-weight: normal; padding: 0 .5em; border-radius: 1em; background: #2b6b3a; }
  .unplugged .badge { background: #6b2b2b; }
  .row { margin: .35em 0; display: flex; flex-wrap: wrap; gap: .3em; align-items: center; }
  .label { color: #9aa1a9; min-width: 5.5em; }
  button { font: inherit; background: #3b4148; color: inherit; border: 1px solid #555c64; border-radius: 4px;
           padding: .15em .55em; cursor: pointer; }
  button:hover { background: #4a5159; }
  button.active { background: #2f6fb0; border-color: #5b9be0; }
  button.held { background: #b07a2f; }
  button:disabled { opacity: .4; cursor: default; }
  canvas { display: block; width: 320px; height: 240px; background: #000; image-rendering: pixelated;
           border: 1px solid #555c64; }
  .lines { font-family: ui-monospace, monospace; background: #0f2a12; color: #9ef5a4; padding: .3em .6em;
           margin-top: .4em; white-space: pre; overflow-x: auto; border-radius: 3px; }
  .led { display: inline-flex; align-items: center; gap: .2em; margin-right: .5em; }
  .led i { width: .8em; height: .8em; border-radius: 50%; background: #333; display: inline-block;
           border: 1px solid #666; }
  .led i.on { background: #5f5; box-shadow: 0 0 6px #5f5; }
  .note { color: #9aa1a9; font-size: .85em; }
</style>
</head>
<body>
<header>
  <h1>Simulated panels</h1>
  <span id="status">connecting</span>
  <span>Plug a device: <select id="tag"><option>SFIP</option><option>X52P</option><option>UNKN</option></select>
    <button id="plug">Plug</button></span>
  <label title="The simulator knows no button layout: each control sets one bit of the soft-button mask">
    Soft-button controls, one per bit: <input id="bits" type="number" min="1" max="32" value="8" style="width:3.5em"></label>
</header>
<main id="devices"></main>
<script>
"use strict";
const views = new Map();
let chain = Promise.resolve();
let bits = 8;

// Controls go out one at a time, in order: a release never overtakes its press.
function control(path, params) {
  chain = chain.then(() => fetch(path + "?" + new URLSearchParams(params), { method: "POST" }))
               .then(r => { if (!r.ok) r.text().then(t => console.warn(path, r.status, t)); },
                     e => console.warn(path, e));
  return chain;
}

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k.startsWith("on")) e.addEventListener(k.slice(2), v); else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c);
  return e;
}

function softButtons(view) {
  view.buttons.replaceChildren(el("span", { class: "label" }, "soft buttons"));
  view.held = 0;
  for (let bit = 0; bit < bits; ++bit) {
    const mask = (1 << bit) >>> 0;
    const b = el("button", { "data-bit": bit, title: "sets bit " + bit + " (0x" + mask.toString(16) + ") of the mask" },
                 "bit " + bit);
    const release = () => {
      if (!(view.held & mask)) return;
      view.held = (view.held & ~mask) >>> 0;
      b.classList.remove("held");
      control("/buttons", { device: view.id, mask: view.held });
    };
    b.addEventListener("pointerdown", e => {
      b.setPointerCapture(e.pointerId);
      view.held = (view.held | mask) >>> 0;
      b.classList.add("held");
      control("/buttons", { device: view.id, mask: view.held });
    });
    b.addEventListener("pointerup", release);
    b.addEventListener("pointercancel", release);
    view.buttons.append(b);
  }
}

function makeView(device) {
  const id = device.id;
  const view = { id, want: null, drawnPage: null, drawnVersion: 0, fetching: false, pagesKey: "" };
  view.section = el("section", { id: "device-" + id, "data-id": id });
  view.badge = el("span", { class: "badge" });
  view.section.append(el("h2", {}, "Device " + id + " · " + device.tag, view.badge));
  view.unplug = el("button", { class: "unplug", onclick: () => control("/unplug", { device: id }) }, "Unplug");
  view.replug = el("button", { class: "replug", onclick: () => control("/replug", { device: id }) }, "Replug");
  view.replugNew = el("button", { class: "replug-new", onclick: () => control("/replug", { device: id, new: 1 }) },
                      "Replug, new handle");
  view.section.append(el("div", { class: "row" }, view.unplug, view.replug, view.replugNew));
  view.pages = el("div", { class: "row pages" });
  view.section.append(view.pages);
  if (device.tag !== "X52P") {
    view.canvas = el("canvas", { width: 320, height: 240, class: "screen" });
    view.ctx = view.canvas.getContext("2d");
    view.ctx.fillRect(0, 0, 320, 240);
    view.pictureNote = el("div", { class: "note picture-note" }, "no picture");
    view.section.append(view.canvas, view.pictureNote);
  }
  view.lines = el("div", { class: "lines" });
  view.section.append(view.lines);
  view.leds = el("div", { class: "row leds" });
  view.section.append(view.leds);
  view.buttons = el("div", { class: "row buttons" });
  view.section.append(view.buttons);
  view.profile = el("div", { class: "note" });
  view.section.append(view.profile);
  softButtons(view);
  return view;
}

// The device's picture (240 bottom-up rows of 320 blue, green, red pixels) at its own pixels.
function draw(view, bytes) {
  const image = view.ctx.createImageData(320, 240);
  const out = image.data;
  for (let y = 0; y < 240; ++y) {
    let from = (239 - y) * 960, to = y * 1280;
    for (let x = 0; x < 320; ++x, from += 3, to += 4) {
      out[to] = bytes[from + 2]; out[to + 1] = bytes[from + 1]; out[to + 2] = bytes[from]; out[to + 3] = 255;
    }
  }
  view.ctx.putImageData(image, 0, 0);
}

async function refreshScreen(view) {
  if (view.fetching || !view.ctx) return;
  view.fetching = true;
  try {
    while (view.want && (view.want.page !== view.drawnPage || view.want.version > view.drawnVersion)) {
      const want = view.want;
      const r = await fetch("/picture?device=" + view.id + "&page=" + want.page + "&index=0");
      if (!r.ok) { if (view.want === want) break; else continue; }
      const version = Number(r.headers.get("X-Picture-Version"));
      const sentAt = Number(r.headers.get("X-Sent-At"));
      const bytes = new Uint8Array(await r.arrayBuffer());
      if (bytes.length !== 230400) break;
      draw(view, bytes);
      view.drawnPage = want.page;
      view.drawnVersion = version;
      view.pictureNote.textContent = "page " + want.page + ", picture " + version;
      window.dispatchEvent(new CustomEvent("panelpicture", { detail:
        { device: view.id, page: want.page, version, sentAt, shownAt: Date.now() } }));
    }
    if (!view.want && view.drawnPage !== null) {
      view.ctx.fillStyle = "#000";
      view.ctx.fillRect(0, 0, 320, 240);
      view.drawnPage = null;
      view.drawnVersion = 0;
      view.pictureNote.textContent = "no picture";
    }
  } catch (e) {
    console.warn(e);
    setTimeout(() => refreshScreen(view), 250);  // a request that failed is tried again
  } finally {
    view.fetching = false;
  }
}

function update(view, device) {
  view.section.classList.toggle("unplugged", !device.present);
  view.badge.textContent = device.present ? "plugged" : "unplugged";
  view.unplug.disabled = !device.present;
  view.replug.disabled = view.replugNew.disabled = device.present;
  for (const b of view.buttons.querySelectorAll("button")) b.disabled = !device.present;
  const key = device.pages.map(p => p.number).join(",") + "/" + device.active;
  if (key !== view.pagesKey) {
    view.pagesKey = key;
    view.pages.replaceChildren(el("span", { class: "label" }, "pages"));
    if (device.pages.length === 0) view.pages.append(el("span", { class: "note" }, "none"));
    for (const p of device.pages) {
      view.pages.append(el("button", { class: p.number === device.active ? "page active" : "page", "data-page": p.number,
                                       onclick: () => control("/page", { device: view.id, page: p.number }) },
                           String(p.number)));
    }
  }
  const page = device.pages.find(p => p.number === device.active);
  const strings = page ? page.strings : {};
  const count = Math.max(device.tag === "X52P" ? 3 : 0, ...Object.keys(strings).map(k => Number(k) + 1));
  const lines = [];
  for (let i = 0; i < count; ++i) lines.push(strings[i] === undefined ? "" : strings[i]);
  view.lines.textContent = lines.join("\n");
  view.lines.style.display = count ? "" : "none";
  view.leds.replaceChildren(el("span", { class: "label" }, "LEDs"));
  const leds = page ? Object.entries(page.leds) : [];
  if (leds.length === 0) view.leds.append(el("span", { class: "note" }, "none set"));
  for (const [index, on] of leds)
    view.leds.append(el("span", { class: "led", "data-led": index }, el("i", { class: on ? "on" : "" }), index));
  view.profile.textContent = device.profile === null ? "" : "profile " + device.profile;
  if (view.ctx) {
    const version = page && page.pictures[0];
    view.want = version ? { page: page.number, version } : null;
    refreshScreen(view);
  }
}

function render(state) {
  const main = document.getElementById("devices");
  const seen = new Set();
  for (const device of state.devices) {
    seen.add(device.id);
    let view = views.get(device.id);
    if (!view) { view = makeView(device); views.set(device.id, view); main.append(view.section); }
    update(view, device);
  }
  for (const [id, view] of views) if (!seen.has(id)) { view.section.remove(); views.delete(id); }
  document.body.dataset.version = state.version;
}

document.getElementById("plug").addEventListener("click",
  () => control("/plug", { tag: document.getElementById("tag").value }));
document.getElementById("bits").addEventListener("change", e => {
  bits = Math.max(1, Math.min(32, Number(e.target.value) || 8));
  for (const view of views.values()) softButtons(view);
});

const status = document.getElementById("status");
const events = new EventSource("/events");
events.onopen = () => { status.textContent = "live"; status.className = "live"; };
events.onerror = () => { status.textContent = "not connected (has the script ended?)"; status.className = ""; };
events.onmessage = e => render(JSON.parse(e.data));
</script>
</body>
</html>
)page";

}  // namespace vexlan::sim
