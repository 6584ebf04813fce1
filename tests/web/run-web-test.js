// The browser tests: the page in headless Chromium, worked as a user works
// it, against the emulated device behind the Web MIDI stand-in. What the
// page shows and what the device receives are compared with what the native
// kestrane-cli says and sends for the same file and device.
//
//   node run-web-test.js --page DIR --device-module FILE --device-api FILE
//                        --cli FILE --source DIR SCENARIO
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Session } = require('./session');

const kClickToStart = '\n\nClick OK to start.';
const kUpdateMessageTitle = 'Important message about update';
const kBlockingTitle = 'Important';
const kOutcomeTitle = 'Kestrane';
const kFailurePrefix = 'The update failed for the following reason:\n\n';
const kNoFileSummary = 'No update file has been loaded yet.';
const kNoFileStatus = 'Waiting for update file.';

function parseArguments(argv) {
  const args = { scenario: null };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a.startsWith('--')) {
      args[a.slice(2)] = argv[++i];
    } else {
      args.scenario = a;
    }
  }
  for (const key of ['page', 'device-module', 'device-api', 'cli', 'source']) {
    if (!args[key])
      throw new Error(`missing --${key}`);
  }
  for (const key of ['page', 'device-module', 'device-api', 'cli']) {
    if (!fs.existsSync(args[key]))
      throw new Error(`--${key} ${args[key]} does not exist${key === 'cli' ? ' (build the native preset first: cmake --preset native && cmake --build --preset native, or set KESTRANE_WEB_CLI)' : ''}`);
  }
  // Chromium reads the files the page opens from absolute paths only.
  for (const key of ['page', 'device-module', 'device-api', 'cli', 'source'])
    args[key] = path.resolve(args[key]);
  return args;
}

// ---- The native tool, for what the page must show and send.

function runCli(cli, args) {
  const result = childProcess.spawnSync(cli, args, { encoding: 'utf8', timeout: 120000 });
  if (result.error)
    throw new Error(`${cli}: ${result.error.message}`);
  return result;
}

// Product, version and message of an update file (kestrane-cli info --json),
// or the reason it does not load.
function fileInfo(cli, file) {
  const result = runCli(cli, ['info', '--json', file]);
  const json = JSON.parse(result.stdout);
  if (json.error)
    return { error: json.error };
  return { error: null, product: json.productName, version: json.version, message: json.message };
}

// The device options as kestrane-cli send takes them.
function simArguments(options) {
  const args = [];
  const names = { script: '--sim', version: '--sim-version', appear: '--sim-appear', unplug: '--sim-unplug', name: '--sim-name' };
  for (const [key, value] of Object.entries(options)) {
    if (names[key])
      args.push(names[key], value);
    else if (key === 'identity' && value === '0')
      args.push('--sim-no-identity');
    else if (key === 'whole-blocks' && value === '1')
      args.push('--sim-whole-blocks');
    else
      throw new Error(`no kestrane-cli option for the device option ${key}`);
  }
  return args;
}

// Sends the file to the emulated device with kestrane-cli and reads its
// output: the status texts in order, the messages the user acknowledged, the
// outcome and the device's record.
function nativeSend(cli, file, options) {
  const record = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-native-')), 'record');
  const result = runCli(cli, ['send', file, '--device', 'sim', '--virtual-time', '--yes', '--sim-record', record, ...simArguments(options)]);
  const lines = result.stdout.split('\n');
  const native = { statuses: [], messages: [], progress: [], outcome: '', stderr: result.stderr, status: result.status };
  for (let i = 0; i < lines.length; i++) {
    const line = lines[i];
    if (line.startsWith('Progress: ')) {
      native.progress.push(parseInt(line.slice('Progress: '.length), 10));
    } else if (line === '' && i + 1 < lines.length && lines.slice(i + 1).includes('(acknowledged: --yes)')) {
      // A message between portions: "\n" text "\n(acknowledged: --yes)\n".
      const end = lines.indexOf('(acknowledged: --yes)', i + 1);
      native.messages.push(lines.slice(i + 1, end).join('\n'));
      i = end + 1;
    } else if (line.startsWith('Simulated time: ')) {
      // The outcome; a warning of the emulated device's own (a portion that
      // did not arrive whole) comes before it, which the page cannot know.
      const rest = lines.slice(i + 1);
      native.warnings = rest.filter((l) => l.startsWith('Warning: '));
      native.outcome = rest.filter((l) => !l.startsWith('Warning: ')).join('\n').replace(/\n+$/, '');
      break;
    } else if (line !== '') {
      native.statuses.push(line);
    }
  }
  native.record = fs.existsSync(record) ? Array.from(fs.readFileSync(record)) : [];
  fs.rmSync(path.dirname(record), { recursive: true, force: true });
  return native;
}

// ---- Checks: every failed one is reported, the test fails at the end.

const failures = [];

function show(value) {
  return JSON.stringify(value, null, 1).replace(/\n\s*/g, ' ');
}

function expectEqual(what, actual, expected) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a === e)
    return true;
  failures.push(`${what}:\n    expected ${show(expected)}\n    got      ${show(actual)}`);
  return false;
}

function expectTrue(what, condition, detail = '') {
  if (!condition)
    failures.push(`${what}${detail ? ': ' + detail : ''}`);
  return !!condition;
}

function hex(bytes) {
  return Buffer.from(bytes).toString('hex');
}

function expectSameBytes(what, actual, expected) {
  if (hex(actual) === hex(expected))
    return;
  let at = 0;
  while (at < actual.length && at < expected.length && actual[at] === expected[at])
    at++;
  failures.push(`${what}: ${actual.length} bytes, expected ${expected.length}; first difference at byte ${at}:\n` +
    `    expected ...${hex(expected.slice(at, at + 16))}\n    got      ...${hex(actual.slice(at, at + 16))}`);
}

// The log's entries of one kind, each value once in a row.
function shown(log, what) {
  const values = [];
  for (const entry of log) {
    if (entry.what === what && (values.length === 0 || values[values.length - 1] !== entry.value))
      values.push(entry.value);
  }
  return values;
}

function boxes(log) {
  return log.filter((e) => e.what === 'message-dialog').map((e) => e.value);
}

function flatten(sends) {
  return [].concat(...sends.map((s) => s.bytes));
}

function isOneSentence(text) {
  return /^[A-Z][^\n]*[.!]$/.test(text) && !/[.!?]\s+\S/.test(text);
}

// ---- Scenarios.

// The summary row and the question for a loaded file.
function loadedTexts(info) {
  return {
    summary: ` Product: '${info.product}' \tFirmware version: ${info.version}`,
    question: `Do you want to update your ${info.product} to version ${info.version} now?`,
  };
}

function optionsText(options) {
  return Object.entries(options).map(([k, v]) => `${k}=${v}`).join('\n');
}

async function withSession(settings, body) {
  const session = await Session.open(settings);
  try {
    return await body(session);
  } catch (error) {
    failures.push(`${error.stack || error}\n${session.diagnostics()}`);
    return null;
  } finally {
    await session.close();
  }
}

// Loads the page, checks its rows before any file, opens the file and checks
// that nothing was asked of Web MIDI or sent yet.
async function loadFile(session, file, how, info) {
  await session.load();
  expectEqual('summary row before a file', await session.text('#summary'), kNoFileSummary);
  expectEqual('status row before a file', await session.text('#status'), kNoFileStatus);
  await session.openFile(file, how);
  await session.page.waitUntil('["loaded", "done"].includes(document.body.dataset.state) || document.querySelector("#message-dialog").open',
    30000, 'the file to load');
  if (info && !info.error) {
    const expected = loadedTexts(info);
    expectEqual('summary row with the file', await session.text('#summary'), expected.summary);
    expectEqual('question', await session.text('#question'), expected.question);
  }
  const before = await session.results();
  expectEqual('Web MIDI requests before Update Now', before.requests, 0);
  expectEqual('bytes sent before Update Now', before.sends.length, 0);
}

// A whole run against the device: the boxes, rows and bar the user sees and
// the device's record, against kestrane-cli's for the same file and device.
async function deviceRun(args, { file, options = {}, how = 'input', port = false, busyMs = 0, notice = null }) {
  const info = fileInfo(args.cli, file);
  const native = nativeSend(args.cli, file, options);
  const deviceName = options.name || 'Kestrane Virtual Device';
  await withSession({ ...args.session, updateFile: file, options: optionsText(options), busyMs }, async (session) => {
    await loadFile(session, file, how, info);
    await session.click('#update-now');
    // Nothing goes to the device before the user has dismissed the update's
    // own message.
    let sentBeforeStart = null;
    await session.finishRun({
      portName: deviceName,
      onBox: async (s, title) => {
        if (title === kUpdateMessageTitle)
          sentBeforeStart = await s.page.evaluate('kestraneStandin.sends.length');
      },
    });
    const r = await session.results();
    if (info.message)
      expectEqual('messages sent while the update\'s message was shown', sentBeforeStart, 0);

    const expectedBoxes = [];
    if (info.message)
      expectedBoxes.push({ title: kUpdateMessageTitle, text: info.message + kClickToStart });
    for (const message of native.messages)
      expectedBoxes.push({ title: kBlockingTitle, text: message });
    expectedBoxes.push({ title: kOutcomeTitle, text: native.outcome });
    expectEqual('message boxes', boxes(r.log), expectedBoxes);
    expectEqual('port lists shown', r.log.filter((e) => e.what === 'port-dialog').map((e) => e.value),
      port ? [[deviceName]] : []);
    expectEqual('status rows', shown(r.log, 'status'),
      [kNoFileStatus, ...native.statuses.map((s) => ' Updating: ' + s), ' Completed: ' + native.outcome]);
    expectEqual('summary rows', shown(r.log, 'summary'), [kNoFileSummary, loadedTexts(info).summary]);
    expectEqual('page states', shown(r.log, 'state').filter((s) => s !== 'idle'), ['loaded', 'running', 'done']);
    // kestrane-cli prints the bar at every tenth of the way: the page's bar
    // must have stood at each of those places (past its start) and end full.
    const progress = r.log.filter((e) => e.what === 'progress').map((e) => e.value);
    expectEqual('progress at the end', progress[progress.length - 1], 100);
    const missed = native.progress.filter((p) => p > 0 && !progress.includes(p));
    expectEqual('places of kestrane-cli\'s bar the page\'s bar missed', missed, []);
    // While the device is unplugged the browser refuses to send to its port;
    // nothing else may be refused.
    const allowed = options.unplug ? ['InvalidStateError'] : [];
    expectEqual('refused sends', r.sendErrors.filter((e) => !allowed.includes(e.name)), []);
    expectSameBytes('device record against kestrane-cli\'s', r.received, native.record);
    // While the device cannot be reached the page says why, and no longer
    // once it can.
    const notices = r.log.filter((e) => e.what === 'device-notice').map((e) => e.value);
    const said = notices.filter((text) => text !== null);
    if (notice) {
      expectTrue(`the page said ${notice}`, said.length > 0 && said.every((text) => notice.test(text)), JSON.stringify(notices));
      expectEqual('the notice at the end', notices[notices.length - 1], null);
    } else {
      expectEqual('notices about the device', said, []);
    }
    if (busyMs)
      expectTrue('opens the browser refused', r.refusedOpens > 0, String(r.refusedOpens));
    if (!options.unplug) {
      // Everything the page sent reached the device, as sent.
      expectEqual('sends the device did not take', r.sends.filter((x) => x.delivered !== true).length, 0);
      expectSameBytes('bytes sent against the device record', flatten(r.sends), r.received);
    }
    if (failures.length) {
      failures.push(`kestrane-cli said:\n  ${native.statuses.join('\n  ')}\n  ${native.outcome}`);
      failures.push(`device: ${r.deviceSummary}`);
    }
  });
}

// A device whose input is named apart from its output: the page's port takes
// a device only with both, so it sends nothing, says what is missing and
// keeps waiting for the input (20 s of the page's time here).
async function noInput(args) {
  const file = path.join(args.source, 'examples/example.upd');
  await withSession({ ...args.session, updateFile: file, options: optionsText({ 'input-name': 'Another Port' }) }, async (session) => {
    await loadFile(session, file, 'input', fileInfo(args.cli, file));
    await session.click('#update-now');
    let waited = false;
    try {
      await session.finishRun({ limitMs: 20000 });
    } catch (error) {
      if (!/has not ended/.test(error.message))
        throw error;
      waited = true;
    }
    const r = await session.results();
    expectTrue('the run still waits for the device', waited);
    const notices = r.log.filter((e) => e.what === 'device-notice' && e.value !== null).map((e) => e.value);
    expectTrue('the page says the input is missing', notices.length > 0 && notices.every((text) => /no MIDI input/.test(text)), JSON.stringify(notices));
    expectEqual('bytes sent', r.sends.length, 0);
    expectEqual('bytes received by the device', r.received.length, 0);
  });
}

// Cancel in the port dialog of a plain SysEx file: the run fails with
// "Update canceled" and nothing is sent.
async function syxCancel(args) {
  const file = path.join(args.source, 'examples/part1.syx');
  await withSession({ ...args.session, updateFile: file }, async (session) => {
    await loadFile(session, file, 'input', fileInfo(args.cli, file));
    await session.click('#update-now');
    await session.finishRun({ portName: null });
    const r = await session.results();
    expectEqual('port lists shown', r.log.filter((e) => e.what === 'port-dialog').map((e) => e.value), [['Kestrane Virtual Device']]);
    expectEqual('message boxes', boxes(r.log), [{ title: kOutcomeTitle, text: kFailurePrefix + 'Update canceled' }]);
    expectEqual('bytes sent', r.sends.length, 0);
    expectEqual('bytes received by the device', r.received.length, 0);
  });
}

async function badFile(args) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-bad-'));
  const file = path.join(dir, 'not-an-update.upd');
  fs.writeFileSync(file, 'This is a text file, not an update.\n');
  const info = fileInfo(args.cli, file);
  expectTrue('kestrane-cli refuses the file', info.error, 'it read it');
  await withSession({ ...args.session, updateFile: path.join(args.source, 'examples/example.upd') }, async (session) => {
    await loadFile(session, file, 'input', null);
    // The file is refused as it is opened; the page stays ready for another.
    await session.finishRun({ virtualTime: false, limitMs: 60000, settled: ['idle'] });
    expectEqual('Update Now disabled', await session.page.evaluate('document.querySelector("#update-now").disabled'), true);
    const r = await session.results();
    expectEqual('message boxes', boxes(r.log), [{ title: kOutcomeTitle, text: kFailurePrefix + info.error }]);
    expectEqual('bytes sent', r.sends.length, 0);
    expectEqual('bytes received by the device', r.received.length, 0);
  });
  fs.rmSync(dir, { recursive: true, force: true });
}

// Web MIDI refused or missing: one sentence in a box, nothing sent.
async function noMidi(args, { webMidi, permission, secure = true, says }) {
  const file = path.join(args.source, 'examples/example.upd');
  const info = fileInfo(args.cli, file);
  await withSession({ ...args.session, updateFile: file, webMidi, permission, secure }, async (session) => {
    await loadFile(session, file, 'input', info);
    const notice = await session.page.evaluate(`(() => {
      const n = document.querySelector('#notice');
      return !!n && !n.hidden && getComputedStyle(n).display !== 'none' && n.textContent.trim() !== '';
    })()`);
    expectEqual('#notice shown', notice, !webMidi);
    await session.click('#update-now');
    await session.finishRun({ virtualTime: false, limitMs: 60000, settled: ['done', 'loaded'] });
    const r = await session.results();
    const shownBoxes = boxes(r.log);
    // The update's own message may come first; the last box tells why nothing happens.
    const last = shownBoxes[shownBoxes.length - 1];
    expectTrue('one box that says why in one sentence', last && last.title === kOutcomeTitle && isOneSentence(last.text), show(shownBoxes));
    // The reason the user must act on: permission, the browser, or the
    // page's address.
    expectTrue(`the box says ${says}`, last && says.test(last.text), show(shownBoxes));
    expectEqual('bytes sent', r.sends.length, 0);
    expectEqual('bytes received by the device', r.received.length, 0);
    if (webMidi)
      expectEqual('Web MIDI requests', r.requests, 1);
  });
}

// A run in real time with a page timer of 50 ms: the page must stay
// responsive while it sends (the engine must give the browser its turn).
async function responsive(args) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-small-'));
  const file = path.join(dir, 'small.upd');
  const examples = path.join(args.source, 'examples');
  // Nine portions without rest times: a few seconds of sending and waiting
  // for the device's answers.
  const portions = [];
  for (let i = 0; i < 3; i++)
    portions.push(...['part1.syx', 'part2.syx', 'part3.syx'].map((name) => path.join(examples, name)));
  const packed = runCli(args.cli, ['pack', '-o', file, '--product', 'Kestrane Virtual Device', '--version', '1.05', ...portions]);
  if (packed.status !== 0)
    throw new Error(`kestrane-cli pack: ${packed.stderr}`);
  const native = nativeSend(args.cli, file, {});
  await withSession({ ...args.session, updateFile: file }, async (session) => {
    await loadFile(session, file, 'input', fileInfo(args.cli, file));
    await session.page.evaluate(`(() => {
      const ticks = globalThis.kestraneTicks = [];
      setInterval(() => ticks.push({ at: performance.now(), state: document.body.dataset.state }), 50);
    })()`);
    await session.click('#update-now');
    await session.finishRun({ virtualTime: false, limitMs: 300000 });
    const ticks = await session.page.evaluate('kestraneTicks');
    const running = ticks.filter((t) => t.state === 'running');
    let gap = 0;
    for (let i = 1; i < running.length; i++)
      gap = Math.max(gap, running[i].at - running[i - 1].at);
    const span = running.length ? running[running.length - 1].at - running[0].at : 0;
    console.log(`run of ${(span / 1000).toFixed(1)} s: ${running.length} ticks of 50 ms, largest gap ${gap.toFixed(0)} ms`);
    expectTrue('the run took long enough to judge', span > 500, `${span} ms`);
    expectTrue('the page timer ticks during the run', running.length >= 0.5 * (span / 50), `${running.length} ticks in ${span.toFixed(0)} ms`);
    expectTrue('no long stall of the page', gap < 500, `largest gap ${gap.toFixed(0)} ms`);
    const r = await session.results();
    expectEqual('outcome box', boxes(r.log).slice(-1), [{ title: kOutcomeTitle, text: native.outcome }]);
    expectSameBytes('device record against kestrane-cli\'s', r.received, native.record);
  });
  fs.rmSync(dir, { recursive: true, force: true });
}

// The stand-in's send() against a table of byte sequences: what Chromium
// takes and what it refuses, and how. The other tests are only as good as
// this: a page that sends broken messages must fail here as in a browser.
const kSendCases = [
  { bytes: [0xf0, 0x7d, 0x01, 0xf7], access: 'sysex', result: 'sent' },
  { bytes: [0xf0, 0x7d, 0x01, 0xf7, 0xf0, 0x7d, 0x02, 0xf7], access: 'sysex', result: 'sent' },
  { bytes: [0xf0, 0x7d, 0xf8, 0x01, 0xfe, 0xf7], access: 'sysex', result: 'sent' }, // real time inside SysEx
  { bytes: [0x90, 0x40, 0x7f, 0xc0, 0x05, 0xf8, 0xfe], access: 'sysex', result: 'sent' },
  { bytes: [0x90, 0xf8, 0x40, 0x7f], access: 'sysex', result: 'sent' }, // real time inside a note
  { bytes: [0xf1, 0x10, 0xf2, 0x01, 0x02, 0xf3, 0x03, 0xf6], access: 'sysex', result: 'sent' },
  { bytes: [0x190, 0x40, 0x7f], access: 'sysex', result: 'sent' }, // octets wrap modulo 256
  { bytes: [], access: 'sysex', result: 'sent' },
  { bytes: [0x40, 0x7f], access: 'sysex', result: 'TypeError' }, // no status byte
  { bytes: [0x90, 0x40, 0x7f, 0x41, 0x7f], access: 'sysex', result: 'TypeError' }, // running status
  { bytes: [0x90, 0x40], access: 'sysex', result: 'TypeError' },
  { bytes: [0xf0, 0x7d, 0x01], access: 'sysex', result: 'TypeError' }, // SysEx not ended
  { bytes: [0xf0, 0x7d, 0x90, 0xf7], access: 'sysex', result: 'TypeError' }, // status byte inside SysEx
  { bytes: [0x7d, 0x01, 0xf7], access: 'sysex', result: 'TypeError' }, // the rest of a SysEx message
  { bytes: [0xf7], access: 'sysex', result: 'TypeError' },
  { bytes: [0xf1], access: 'sysex', result: 'TypeError' },
  { bytes: [0xf4], access: 'sysex', result: 'TypeError' }, // reserved
  { bytes: [0xf9], access: 'sysex', result: 'TypeError' }, // reserved real time
  { bytes: 'not bytes', access: 'sysex', result: 'TypeError' },
  { bytes: [0xf0, 0x7d, 0x01, 0xf7], access: 'plain', result: 'InvalidAccessError' },
  { bytes: [0x90, 0x40, 0x7f], access: 'plain', result: 'sent' },
];

async function standin(args) {
  const file = path.join(args.source, 'examples/example.upd');
  await withSession({ ...args.session, updateFile: file }, async (session) => {
    await session.load();
    const results = await session.page.evaluate(`(async () => {
      const cases = ${JSON.stringify(kSendCases)};
      const accesses = { sysex: await navigator.requestMIDIAccess({ sysex: true }), plain: await navigator.requestMIDIAccess() };
      while (accesses.sysex.outputs.size === 0)
        await new Promise((resolve) => setTimeout(resolve, 10));
      const out = [];
      for (const c of cases) {
        const output = Array.from(accesses[c.access].outputs.values())[0];
        try {
          output.send(c.bytes);
          out.push('sent');
        } catch (error) {
          out.push(error.name);
        }
      }
      const sysex = accesses.sysex;
      const output = sysex.outputs.values().next().value;
      const input = sysex.inputs.get(sysex.inputs.keys().next().value);
      const seen = [];
      sysex.onstatechange = (e) => seen.push(e.port.type + ' ' + e.port.connection);
      input.onmidimessage = () => {};
      await output.open();
      return {
        sends: out,
        sysexEnabled: [accesses.sysex.sysexEnabled, accesses.plain.sysexEnabled],
        ports: [output.type, output.state, output.name, input.type, input.state, input.connection, sysex.outputs.size, sysex.inputs.size],
        events: seen,
        each: (() => { const names = []; sysex.outputs.forEach((port, id, map) => names.push([id === port.id, map === sysex.outputs])); return names; })(),
      };
    })()`);
    kSendCases.forEach((c, i) => expectEqual(`send(${JSON.stringify(c.bytes)}) with ${c.access} access`, results.sends[i], c.result));
    expectEqual('sysexEnabled', results.sysexEnabled, [true, false]);
    expectEqual('ports', results.ports, ['output', 'connected', 'Kestrane Virtual Device', 'input', 'connected', 'open', 1, 1]);
    // Sending opened the output already; setting onmidimessage opens the input.
    expectEqual('statechange events', results.events, ['input open']);
    expectEqual('forEach', results.each, [[true, true]]);
  });
}

// An update whose chunks go out as they are (chunks off), cut by its port
// settings in the middle of its SysEx messages. Web MIDI takes whole messages
// only, so the page must hold each cut message back until the block that
// completes it; the device must still get every byte, in order.
function packChunksOff(args) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-chunks-'));
  const file = path.join(dir, 'chunks-off.upd');
  const examples = path.join(args.source, 'examples');
  const packed = runCli(args.cli, ['pack', '-o', file, '--product', 'Kestrane Virtual Device', '--version', '1.05',
    '--settings', 'win:any:ideal:40:max:60:chunks:no',
    ...['part1.syx', 'part2.syx', 'part3.syx'].map((name) => path.join(examples, name))]);
  if (packed.status !== 0)
    throw new Error(`kestrane-cli pack: ${packed.stderr}`);
  const info = runCli(args.cli, ['info', file]);
  if (!/chunks off/.test(info.stdout))
    throw new Error(`the packed update does not send its chunks as they are:\n${info.stdout}`);
  return file;
}

function scenarios(args) {
  const example = path.join(args.source, 'examples/example.upd');
  return {
    accept: () => deviceRun(args, { file: example, options: { script: 'accept' } }),
    fail: () => deviceRun(args, { file: example, options: { script: 'accept,accept,fail' }, how: 'drop' }),
    silent: () => deviceRun(args, { file: example, options: { script: 'silent', identity: '0' } }),
    late: () => deviceRun(args, { file: example, options: { appear: '3000' }, notice: /No MIDI device for this update/ }),
    'no-input': () => noInput(args),
    busy: () => deviceRun(args, { file: example, busyMs: 3000, notice: /in use by another program/ }),
    unplug: () => deviceRun(args, { file: example, options: { unplug: '2:100:2000' } }),
    syx: () => deviceRun(args, { file: path.join(args.source, 'examples/part1.syx'), port: true }),
    'chunks-off': () => deviceRun(args, { file: packChunksOff(args) }),
    'syx-cancel': () => syxCancel(args),
    badfile: () => badFile(args),
    refused: () => noMidi(args, { webMidi: true, permission: 'refused', says: /did not allow/ }),
    'no-webmidi': () => noMidi(args, { webMidi: false, says: /has no Web MIDI/ }),
    insecure: () => noMidi(args, { webMidi: false, secure: false, says: /HTTPS/ }),
    responsive: () => responsive(args),
    standin: () => standin(args),
  };
}

async function main() {
  const args = parseArguments(process.argv.slice(2));
  args.session = { pageDir: args.page, deviceModule: args['device-module'], deviceApi: args['device-api'] };
  const table = scenarios(args);
  if (!table[args.scenario])
    throw new Error(`unknown scenario ${args.scenario}; known: ${Object.keys(table).join(', ')}`);
  await table[args.scenario]();
  if (failures.length) {
    console.log(`FAILED ${args.scenario}:\n` + failures.map((f) => '  ' + f).join('\n'));
    process.exitCode = 1;
  } else {
    console.log(`passed ${args.scenario}`);
  }
}

if (require.main === module) {
  main().catch((error) => {
    console.log(`ERROR ${error.stack || error}`);
    process.exitCode = 1;
  });
}

module.exports = { fileInfo, nativeSend, runCli };
