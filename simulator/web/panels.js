// The live panels' page. It follows the library's event stream (/events: the whole state on each change),
// keeps one section per device and updates it in place, fetches a picture only when its version changed
// (at most one request per device at a time, always the newest), and sends the controls one after
// another. It tells one run of the script from the next (the state's `run`), shows when the script has
// ended, and waits its turn when the server already follows as many pages as it will.
"use strict";

const KNOWN_DEVICES = 10; // the module names at most this many devices by tag and ordinal
const RETRY_MS = 1000;

const views = new Map();
// From the state: the catalogue of device kinds by tag, and the picture's size.
let kinds = new Map();
let pictureFormat = { width: 0, height: 0, bytes: 0 };

function kindOf(device) {
  return kinds.get(device.tag) || { screen: false, display_lines: 0, display_columns: 0 };
}
let chain = Promise.resolve();
let bits = 8;
let run = null;
let runs = 0;
let ended = false;

const statusBox = document.getElementById("status");
const runBox = document.getElementById("run");

function setStatus(text, kind) {
  statusBox.textContent = text;
  statusBox.className = kind;
}

// Controls go out one at a time, in order: a release never overtakes its press.
function control(path, params) {
  if (ended) return chain;
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

function sleep(ms) { return new Promise(resolve => setTimeout(resolve, ms)); }

// ---- a device's section --------------------------------------------------------------------------------

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
      if (b.disabled) return;
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

function blank(ctx) {
  ctx.fillStyle = "#000";
  ctx.fillRect(0, 0, pictureFormat.width, pictureFormat.height);
}

function makeView(device) {
  const id = device.id;
  const view = { id, tag: device.tag, pagesKey: "", pictures: new Map(), wanted: new Map(), screenKey: null };
  view.section = el("section", { id: "device-" + id, "data-id": id });
  view.name = el("span", { class: "name" });
  view.badge = el("span", { class: "badge" });
  view.section.append(el("h2", {}, view.name, view.badge,
                         el("span", { class: "note" }, "simulator device " + id)));
  view.unplug = el("button", { class: "unplug", onclick: () => control("/unplug", { device: id }) }, "Unplug");
  view.replug = el("button", { class: "replug", onclick: () => control("/replug", { device: id }) }, "Replug");
  view.replugNew = el("button", { class: "replug-new", onclick: () => control("/replug", { device: id, new: 1 }) },
                      "Replug, new handle");
  view.section.append(el("div", { class: "row" }, view.unplug, view.replug, view.replugNew));
  view.pageButtons = el("div", { class: "row pages" });
  view.section.append(view.pageButtons);
  // Only kinds with a screen show one; others show their pictures below.
  if (kindOf(device).screen) {
    view.screen = el("canvas", { width: pictureFormat.width, height: pictureFormat.height, class: "screen" });
    view.ctx = view.screen.getContext("2d");
    blank(view.ctx);
    view.pictureNote = el("div", { class: "note picture-note" }, "no picture");
    view.section.append(view.screen, view.pictureNote);
  }
  view.lines = el("div", { class: "lines" });
  view.leds = el("div", { class: "row leds" });
  view.buttons = el("div", { class: "row buttons" });
  view.profile = el("div", { class: "note profile" });
  view.others = el("div", { class: "others" });
  view.section.append(view.lines, view.leds, view.buttons, view.profile, view.others);
  softButtons(view);
  return view;
}

// A page's lines: a text display shows its kind's display_columns characters of each, the rest is struck
// through.
function fillLines(box, device, page) {
  const strings = page ? page.strings : {};
  const { display_lines: lines, display_columns: columns } = kindOf(device);
  const count = Math.max(lines, ...Object.keys(strings).map(k => Number(k) + 1));
  box.replaceChildren();
  for (let i = 0; i < count; ++i) {
    const text = strings[i] === undefined ? "" : strings[i];
    const characters = Array.from(text);
    if (i) box.append("\n");
    if (columns && characters.length > columns) {
      box.append(characters.slice(0, columns).join(""),
                 el("span", { class: "cut", title: "beyond the " + columns + " characters the display shows" },
                    characters.slice(columns).join("")));
    } else {
      box.append(text);
    }
  }
  box.style.display = count ? "" : "none";
}

function fillLeds(box, page) {
  box.replaceChildren(el("span", { class: "label" }, "LEDs"));
  const leds = page ? Object.entries(page.leds) : [];
  if (leds.length === 0) box.append(el("span", { class: "note" }, "none set"));
  for (const [index, on] of leds)
    box.append(el("span", { class: "led", "data-led": index }, el("i", { class: on ? "on" : "" }), index));
}

// Every page's pictures, each at its own pixels; the active page's first picture is also the screen.
function pictureKey(page, index) { return page + "/" + index; }

function update(view, device, name) {
  // Most changes are a new picture: the section is rebuilt only when something else changed.
  const shape = JSON.stringify([device, name, ended, bits], (k, v) => (k === "pictures" ? Object.keys(v) : v));
  if (shape === view.shape) {
    for (const page of device.pages)
      for (const [index, version] of Object.entries(page.pictures)) {
        const want = view.wanted.get(pictureKey(page.number, index));
        if (want) want.version = version;
      }
    return;
  }
  view.shape = shape;
  const gone = ended || !device.present;
  view.section.classList.toggle("unplugged", !device.present);
  view.name.textContent = name;
  view.badge.textContent = ended ? "script ended" : device.present ? "plugged" : "unplugged";
  view.unplug.disabled = gone;
  view.replug.disabled = view.replugNew.disabled = ended || device.present;
  for (const b of view.buttons.querySelectorAll("button")) b.disabled = gone;
  const key = device.pages.map(p => p.number).join(",") + "/" + device.active + "/" + gone;
  if (key !== view.pagesKey) {
    view.pagesKey = key;
    view.pageButtons.replaceChildren(el("span", { class: "label" }, "turn to"));
    if (device.pages.length === 0) view.pageButtons.append(el("span", { class: "note" }, "no pages"));
    for (const p of device.pages) {
      const b = el("button", { class: p.number === device.active ? "page active" : "page", "data-page": p.number,
                               onclick: () => control("/page", { device: view.id, page: p.number }) },
                   String(p.number));
      b.disabled = gone;
      view.pageButtons.append(b);
    }
  }
  const active = device.pages.find(p => p.number === device.active);
  fillLines(view.lines, device, active);
  fillLeds(view.leds, active);
  view.profile.textContent = device.profile === null ? "" : "profile " + device.profile;

  // Every page, the active one included, as the unit holds it; rebuilt only when more than a picture's
  // version changed.
  const wanted = new Map();
  const layout = JSON.stringify([device.active, device.pages.map(p => [p.number, p.strings, Object.keys(p.pictures)])]);
  const rebuild = layout !== view.layout;
  view.layout = layout;
  if (rebuild) view.others.replaceChildren();
  for (const page of device.pages) {
    const box = el("div", { class: "page-view", "data-page": page.number },
                   el("div", { class: "note" }, "page " + page.number + (page.number === device.active ? " (shown)" : "")));
    const lines = el("div", { class: "lines page-lines" });
    fillLines(lines, device, page);
    const strip = el("div", { class: "pictures" });
    for (const [index, version] of Object.entries(page.pictures)) {
      const k = pictureKey(page.number, index);
      wanted.set(k, { page: page.number, index: Number(index), version });
      let picture = view.pictures.get(k);
      if (!picture) {
        const canvas = el("canvas", { width: pictureFormat.width, height: pictureFormat.height, class: "thumb",
                                      "data-page": page.number, "data-index": index });
        picture = { canvas, ctx: canvas.getContext("2d"), version: 0 };
        blank(picture.ctx);
        view.pictures.set(k, picture);
      }
      strip.append(el("figure", {}, picture.canvas, el("figcaption", {}, "image " + (Number(index) + 1))));
    }
    box.append(lines, strip);
    if (rebuild) view.others.append(box);
  }
  for (const k of [...view.pictures.keys()]) if (!wanted.has(k)) view.pictures.delete(k);
  view.wanted = wanted;
  const first = active && Object.keys(active.pictures).map(Number).sort((a, b) => a - b)[0];
  view.screenKey = first === undefined || first === null ? null : pictureKey(active.number, first);
  showScreen(view);
}

// The device's picture (bottom-up rows of blue, green, red pixels) at its own pixels.
function decode(ctx, bytes, image) {
  const { width, height } = pictureFormat;
  image = image || ctx.createImageData(width, height);
  const out = image.data;
  for (let y = 0; y < height; ++y) {
    let from = (height - 1 - y) * width * 3, to = y * width * 4;
    for (let x = 0; x < width; ++x, from += 3, to += 4) {
      out[to] = bytes[from + 2]; out[to + 1] = bytes[from + 1]; out[to + 2] = bytes[from]; out[to + 3] = 255;
    }
  }
  return image;
}

function showScreen(view) {
  if (!view.ctx) return;
  const picture = view.screenKey && view.pictures.get(view.screenKey);
  if (picture && picture.image) {
    view.ctx.putImageData(picture.image, 0, 0);
    const want = view.wanted.get(view.screenKey);
    view.pictureNote.textContent = "page " + want.page + ", image " + (want.index + 1) + ", picture " + picture.version;
  } else {
    blank(view.ctx);
    view.pictureNote.textContent = "no picture";
  }
}

// One request brings every picture newer than the newest drawn (/pictures?after=V): each a line of five
// numbers (device, page, index, version, the millisecond it was sent) and pictureFormat.bytes bytes. One
// request at a time, always for the newest: a slow browser skips pictures rather than falling behind.
let picturesSeen = 0;
let fetchingPictures = false;

function picturesWanted() {
  for (const view of views.values())
    for (const [k, want] of view.wanted || []) if (view.pictures.get(k).version < want.version) return true;
  return false;
}

async function refreshPictures() {
  if (fetchingPictures) return;
  fetchingPictures = true;
  let retried = false;
  try {
    while (picturesWanted()) {
      const asked = run;
      const r = await fetch("/pictures?after=" + picturesSeen);
      if (!r.ok) throw new Error("pictures: " + r.status);
      const bytes = new Uint8Array(await r.arrayBuffer());
      if (asked !== run) continue;  // a new run began meanwhile: its numbering starts again
      let at = 0, drawn = 0;
      while (at < bytes.length) {
        const end = bytes.indexOf(10, at);
        if (end < 0 || end + 1 + pictureFormat.bytes > bytes.length) break;
        const [id, page, index, version, sentAt] = new TextDecoder().decode(bytes.subarray(at, end)).split(" ").map(Number);
        const pixels = bytes.subarray(end + 1, end + 1 + pictureFormat.bytes);
        at = end + 1 + pictureFormat.bytes;
        picturesSeen = Math.max(picturesSeen, version);
        const view = views.get(id);
        const k = pictureKey(page, index);
        const picture = view && view.pictures.get(k);
        if (!picture || picture.version >= version) continue;
        picture.image = decode(picture.ctx, pixels, picture.image);
        picture.ctx.putImageData(picture.image, 0, 0);
        picture.version = version;
        if (k === view.screenKey) showScreen(view);
        ++drawn;
        window.dispatchEvent(new CustomEvent("panelpicture", { detail:
          { device: id, page, index, version, sentAt, shownAt: Date.now() } }));
      }
      if (drawn === 0) {
        // A picture listed before its device's section was there may have come and been skipped: ask
        // again from the oldest one missing, once; after that, what is still missing is gone.
        let missing = Infinity;
        for (const view of views.values())
          for (const [k, want] of view.wanted)
            if (view.pictures.get(k).version < want.version) missing = Math.min(missing, want.version);
        if (!retried && missing <= picturesSeen) {
          retried = true;
          picturesSeen = missing - 1;
          continue;
        }
        for (const view of views.values())
          for (const [k, want] of view.wanted) {
            const picture = view.pictures.get(k);
            picture.version = Math.max(picture.version, want.version);
          }
      }
    }
    for (const view of views.values()) showScreen(view);
  } catch (e) {
    console.warn(e);
    setTimeout(refreshPictures, 250);  // a request that failed is tried again
  } finally {
    fetchingPictures = false;
  }
}

// A device's name as scripts use it: its tag and its ordinal, its position among the devices of its tag
// in the order they came (the simulator numbers devices in that order too), for the first ten.
function names(devices) {
  const result = new Map();
  const counts = {};
  [...devices].sort((a, b) => a.id - b.id).forEach((device, position) => {
    counts[device.tag] = (counts[device.tag] || 0) + 1;
    result.set(device.id, position < KNOWN_DEVICES ? device.tag + " " + counts[device.tag]
                                                     : device.tag + " (no ordinal: more than ten devices)");
  });
  return result;
}

let lastState = null;

// The kinds and the picture size come with every state; the plug control lists the kinds once.
function takeCatalogue(state) {
  if (kinds.size) return;
  kinds = new Map(state.kinds.map(kind => [kind.tag, kind]));
  pictureFormat = state.picture;
  document.getElementById("tag").replaceChildren(...state.kinds.map(kind => el("option", {}, kind.tag)));
}

function render(state) {
  if (state.run !== run) {  // a new run of the script: nothing of the last one stays
    for (const view of views.values()) view.section.remove();
    views.clear();
    picturesSeen = 0;
    if (run !== null) runBox.textContent = "run " + (runs + 1) + ", started " + new Date().toLocaleTimeString();
    run = state.run;
    ++runs;
  }
  lastState = state;
  takeCatalogue(state);
  const main = document.getElementById("devices");
  const labels = names(state.devices);
  const seen = new Set();
  for (const device of state.devices) {
    seen.add(device.id);
    let view = views.get(device.id);
    if (!view) { view = makeView(device); views.set(device.id, view); main.append(view.section); }
    update(view, device, labels.get(device.id));
  }
  for (const [id, view] of views) if (!seen.has(id)) { view.section.remove(); views.delete(id); }
  refreshPictures();
  document.getElementById("keys-row").hidden = !state.keys;
  document.body.dataset.version = state.version;
  document.body.dataset.run = state.run;
}

function setEnded(value) {
  if (ended === value) return;
  ended = value;
  document.body.classList.toggle("ended", ended);
  for (const c of document.querySelectorAll("header .control button, header .control input, header .control select"))
    c.disabled = ended;
  if (lastState) render(lastState);
}

// ---- the event stream --------------------------------------------------------------------------------

async function follow() {
  for (;;) {
    let response;
    try {
      response = await fetch("/events", { cache: "no-store" });
    } catch (e) {
      setEnded(run !== null);
      setStatus(run !== null ? "the script has ended: this page reconnects when it runs again"
                             : "not connected: is the script running?", "");
      await sleep(RETRY_MS);
      continue;
    }
    if (response.status === 503) {
      setStatus("waiting: as many other pages as the server follows are open; this one connects when one closes",
                "waiting");
      await sleep(RETRY_MS);
      continue;
    }
    if (!response.ok) { await sleep(RETRY_MS); continue; }
    setStatus("live", "live");
    let stopped = false;
    try {
      const reader = response.body.getReader();
      const decoder = new TextDecoder();
      let buffer = "";
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf("\n\n")) >= 0) {
          const message = buffer.slice(0, end);
          buffer = buffer.slice(end + 2);
          let data = "", kind = "message";
          for (const line of message.split("\n")) {
            if (line.startsWith("data: ")) data += line.slice(6);
            else if (line.startsWith("event: ")) kind = line.slice(7);
          }
          if (kind === "stopped") stopped = true;
          else if (data) { setEnded(false); render(JSON.parse(data)); }
        }
      }
    } catch (e) {
      console.warn(e);
    }
    setEnded(true);
    setStatus(stopped ? "the script has ended: this page reconnects when it runs again"
                      : "not connected (has the script ended?): this page reconnects when it runs again", "");
    await sleep(RETRY_MS);
  }
}

// ---- the header's controls -------------------------------------------------------------------------------

document.getElementById("plug").addEventListener("click",
  () => control("/plug", { tag: document.getElementById("tag").value }));
document.getElementById("bits").addEventListener("change", e => {
  bits = Math.max(1, Math.min(32, Number(e.target.value) || 8));
  for (const view of views.values()) softButtons(view);
  if (lastState) render(lastState);
});
// Characters typed into the keys box go to the script's standard input, one request per character
// (Enter as a line end); the box keeps nothing.
const keys = document.getElementById("keys");
keys.addEventListener("keydown", e => {
  if (e.ctrlKey || e.metaKey || e.altKey) return;
  const text = e.key === "Enter" ? "\n" : e.key.length === 1 || Array.from(e.key).length === 1 ? e.key : null;
  if (text === null) return;
  e.preventDefault();
  control("/keys", { text });
});

follow();
