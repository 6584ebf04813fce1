// The page: opening a file, the summary and the "Update Now" button, the port
// choice for a plain SysEx file, the boxes as dialogs, the progress bar and
// the two status rows, in the Windows program's words. The run itself is the
// engine's (kestrane-engine.js), on this thread: it gives the page its turn
// whenever it waits.
"use strict";

const kCaption = "Kestrane";
const kNoWebMidiText =
    "This browser has no Web MIDI and cannot reach MIDI devices, so nothing was sent: open this " +
    "page in Chrome, Edge, Opera or Firefox to update your device.";
const kInsecureText =
    "Browsers let only secure pages use MIDI devices and this page was not loaded over HTTPS, so " +
    "nothing was sent: open it from its https:// address (or from localhost).";
const kFileText =
    "This page was opened as a file, and browsers do not let such a page load its update " +
    "engine: open it from its web address, or serve its folder on this computer (for example " +
    "with python3 -m http.server) and open http://localhost:8000/.";
const kDeviceMissingText =
    "No MIDI device for this update is connected: connect the device and switch it on, and the " +
    "update starts as soon as it appears.";
const kDeviceBusyText =
    "The device's MIDI ports are in use by another program: close that program, and the update " +
    "starts as soon as the ports are free.";
const kDeviceNoInputText =
    "The device's MIDI output is connected but no MIDI input of the same name, and the update " +
    "needs both to hear the device's replies: check that the device's MIDI input is connected " +
    "too, and the update starts as soon as it appears.";
const kRefusedText =
    "The browser did not allow this page to use MIDI devices, so nothing was sent: allow MIDI " +
    "device access (with SysEx) for this page in the browser's site settings, then press Update " +
    "Now again.";
const kNoOutputText =
    "No MIDI output is connected, so nothing was sent: connect the device, switch it on, then " +
    "press Update Now again.";

const $ = (id) => document.getElementById(id);

let engine = null;        // the engine module, once loaded
let opened = null;        // what the engine showed of the opened file
let running = false;      // a run (from Update Now to its end) is going on
let pictureUrl = null;    // the object URL of the update's picture
let acknowledged = true;  // the last blocking message has been acknowledged

// Why Web MIDI is missing: a page that is not secure (plain http:// from
// another computer) gets none even in a browser that has it.
function noMidiText() {
  return window.isSecureContext === false ? kInsecureText : kNoWebMidiText;
}

function setState(state) {
  document.body.dataset.state = state;
}

// The boxes, one at a time, in the order they were asked for; each promise
// settles when the user has pressed OK (or Esc).
let boxes = Promise.resolve();

function showBox(title, text) {
  const shown = boxes.then(() => new Promise((resolve) => {
    const dialog = $("message-dialog");
    $("message-title").textContent = title;
    $("message-text").textContent = text;
    dialog.addEventListener("close", () => resolve(), {once: true});
    dialog.showModal();
    $("message-ok").focus();
  }));
  boxes = shown;
  return shown;
}

// The port for a plain SysEx file: the chosen output's name, or null when the
// user cancelled.
function choosePort(names) {
  return new Promise((resolve) => {
    const dialog = $("port-dialog");
    const list = $("port-list");
    list.replaceChildren(...names.map((name) => new Option(name, name)));
    list.selectedIndex = 0;
    dialog.returnValue = "";
    dialog.addEventListener("close", () => {
      resolve(dialog.returnValue === "ok" && list.value !== "" ? list.value : null);
    }, {once: true});
    dialog.showModal();
    list.focus();
  });
}

function showPicture(bytes) {
  if (pictureUrl)
    URL.revokeObjectURL(pictureUrl);
  pictureUrl = null;
  if (bytes.length === 0) {
    $("picture").src = "picture.png";
    return;
  }
  pictureUrl = URL.createObjectURL(new Blob([bytes], {type: "image/png"}));
  // A picture the browser cannot show leaves the one before in place.
  const probe = new Image();
  const url = pictureUrl;
  probe.onload = () => {
    if (url === pictureUrl)
      $("picture").src = url;
  };
  probe.onerror = () => console.log("Failed to convert PNG");
  probe.src = url;
}

// What the engine calls (webjs.cpp).
const kestranePage = {
  showUpdate(update) {
    opened = update;
    document.title = update.title;
    $("summary").textContent = update.summary;
    $("question").textContent = update.question;
    showPicture(update.image);
  },
  progress(percent) {
    $("progress").value = percent;
  },
  indeterminate() {
    $("progress").removeAttribute("value");
  },
  status(text) {
    $("status").textContent = text;
  },
  failure(text) {
    showBox(kCaption, text);
  },
  completed(statusRow, text) {
    $("status").textContent = statusRow;
    showBox(kCaption, text);
  },
  blockingMessage(text) {
    acknowledged = false;
    showBox("Important", text).then(() => {
      acknowledged = true;
    });
  },
  messageAcknowledged() {
    return acknowledged;
  },
  // What keeps the engine from the device while it waits: 0 nothing, 1 no
  // port of the update's names, 2 ports another program holds, 3 an output
  // without an input (webjs.h).
  deviceNotice(kind) {
    const notice = $("device-notice");
    notice.hidden = kind === 0;
    if (kind !== 0)
      notice.textContent = [kDeviceMissingText, kDeviceBusyText, kDeviceNoInputText][kind - 1];
  },
};
globalThis.kestranePage = kestranePage;

function setRunLayout(run) {
  running = run;
  $("update-now").disabled = run || !opened;
  $("file-input").disabled = run;
  $("open-button").classList.toggle("disabled", run);
  if (!run)
    $("device-notice").hidden = true;
}

// Calls use with the address of a copy of the bytes in the engine's memory,
// which is freed again afterwards; returns what use returns.
function withEngineBytes(bytes, use) {
  const at = engine._malloc(Math.max(bytes.length, 1));
  if (at === 0)
    throw new Error("there is not enough memory for it");
  try {
    engine.HEAPU8.set(bytes, at);
    return use(at);
  } finally {
    engine._free(at);
  }
}

async function openFile(file) {
  if (running || !file || !engine)
    return;
  opened = null;
  let ok = false;
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    ok = withEngineBytes(bytes, (at) => engine._KestraneOpen(at, bytes.length)) === 1;
  } catch (error) {
    // The browser could not hand over the file (a folder, a file that went
    // away, one too big to hold): the engine never saw it.
    engine.ccall("KestraneFail", null, ["string"],
                 [`The file ${file.name} could not be read (${error.message}).`]);
  }
  $("confirm-row").hidden = !ok;
  $("update-now").disabled = !ok;
  setState(ok ? "loaded" : "idle");
  if (ok)
    $("update-now").focus();
}

// The start of a run: MIDI access, the port for a plain SysEx file, the
// update's own message; then the engine's run. Nothing is sent before the
// user has pressed Update Now and every box before the run.
async function updateNow() {
  if (running || !opened || !engine)
    return;
  setRunLayout(true);
  setState("running");
  try {
    try {
      await kestraneMidi.start();
    } catch (error) {
      await showBox(kCaption, error.reason === "absent" ? noMidiText() : kRefusedText);
      return;
    }
    let port = "";
    if (opened.isSysEx) {
      const names = kestraneMidi.listOutputs();
      if (names.length === 0) {
        await showBox(kCaption, kNoOutputText);
        return;
      }
      port = await choosePort(names);
      if (port === null) {
        engine.ccall("KestraneFail", null, ["string"], ["Update canceled"]);
        await boxes;
        return;
      }
    }
    if (opened.startMessage !== "")
      await showBox("Important message about update", opened.startMessage);
    await engine.ccall("KestraneRun", null, ["string"], [port], {async: true});
    await boxes;
  } finally {
    setRunLayout(false);
    setState("done");
  }
}

function midiInput(data) {
  if (engine)
    withEngineBytes(data, (at) => engine._KestraneMidiInput(at, data.length));
}

function setUp() {
  if (!kestraneMidi.available()) {
    $("notice").textContent = noMidiText();
    $("notice").hidden = false;
  }
  kestraneMidi.onInput = midiInput;
  $("file-input").addEventListener("change", (event) => {
    const file = event.target.files[0];
    event.target.value = "";
    openFile(file);
  });
  $("update-now").addEventListener("click", updateNow);
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = running ? "none" : "copy";
    document.body.classList.toggle("dragging", !running);
  });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    document.body.classList.remove("dragging");
    // Only the first file counts, as in the Windows program; none during a run.
    const file = event.dataTransfer.files[0];
    if (!running && file)
      openFile(file);
  });
  window.addEventListener("beforeunload", (event) => {
    if (!running)
      return;
    event.preventDefault();
    event.returnValue = "";
  });
  KestraneEngine({print: (text) => console.log(text), printErr: (text) => console.warn(text)})
      .then((module) => {
        engine = module;
        document.body.dataset.ready = "1";
      })
      .catch((error) => {
        console.error(error);
        showBox(kCaption, location.protocol === "file:"
            ? kFileText
            : `This page could not start its update engine (${error}): reload the page.`);
      });
}

document.addEventListener("DOMContentLoaded", setUp);
