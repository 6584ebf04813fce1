// The browser version's pictures and benchmark, with the same session as the
// browser tests (headless Chromium, the Web MIDI stand-in, the emulated
// device):
//
//   node web-tools.js screenshots --page DIR --device-module FILE --device-api FILE --source DIR --out DIR
//   node web-tools.js bench --page DIR --device-module FILE --device-api FILE --source DIR --cli FILE
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const { Session } = require('./session');

function parseArguments(argv) {
  const args = { mode: argv[0] };
  for (let i = 1; i < argv.length; i += 2)
    args[argv[i].replace(/^--/, '')] = path.resolve(argv[i + 1]);
  return args;
}

function sessionSettings(args, extra) {
  return {
    pageDir: args.page,
    deviceModule: args['device-module'],
    deviceApi: args['device-api'],
    updateFile: path.join(args.source, 'examples/example.upd'),
    options: 'script=accept',
    ...extra,
  };
}

// docs/web-running.png: the example update on its way, past the box after
// the first portion, with the bar moving; docs/web-done.png: the box that
// ends the run.
async function screenshots(args) {
  const session = await Session.open(sessionSettings(args));
  try {
    await session.load();
    await session.openFile(path.join(args.source, 'examples/example.upd'));
    await session.page.waitUntil('document.body.dataset.state === "loaded"');
    let boxesSeen = 0;
    let running = false;
    await session.click('#update-now');
    await session.finishRun({
      onBox: async (s, title) => {
        ++boxesSeen;
        if (title === 'Kestrane') {
          await s.page.screenshot(path.join(args.out, 'web-done.png'));
          console.log(path.join(args.out, 'web-done.png'));
        }
      },
      onStep: async (s) => {
        if (running || boxesSeen < 2)
          return;
        const status = await s.text('#status');
        if (status.startsWith(' Updating: Waiting for device to become active')) {
          running = true;
          await s.page.screenshot(path.join(args.out, 'web-running.png'));
          console.log(path.join(args.out, 'web-running.png'));
        }
      },
    });
    if (!running)
      throw new Error('the run never showed " Updating: Waiting for device to become active..."');
  } catch (error) {
    console.error(session.diagnostics());
    throw error;
  } finally {
    await session.close();
  }
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// The time a run of the example took on the page's clock, from the end of
// the update's own message to the end of the run, less the time the boxes
// between portions waited for the user.
function runMs(log) {
  const firstClosed = log.find((e) => e.what === 'message-dialog-closed');
  const done = log.find((e) => e.what === 'state' && e.value === 'done');
  let waiting = 0;
  let openedAt = null;
  for (const e of log) {
    if (e.at <= firstClosed.at || e.at > done.at)
      continue;
    if (e.what === 'message-dialog')
      openedAt = e.at;
    if (e.what === 'message-dialog-closed' && openedAt !== null) {
      waiting += e.at - openedAt;
      openedAt = null;
    }
  }
  return done.at - firstClosed.at - waiting;
}

async function timedRun(args, virtualTime) {
  const session = await Session.open(sessionSettings(args));
  try {
    await session.load();
    await session.openFile(path.join(args.source, 'examples/example.upd'));
    await session.page.waitUntil('document.body.dataset.state === "loaded"');
    await session.click('#update-now');
    await session.finishRun({ virtualTime });
    const r = await session.results();
    const outcome = r.log.filter((e) => e.what === 'message-dialog').pop();
    if (!outcome || !/updated sucessfully/.test(outcome.value.text))
      throw new Error(`the run did not succeed: ${JSON.stringify(outcome)}`);
    return runMs(r.log);
  } catch (error) {
    console.error(session.diagnostics());
    throw error;
  } finally {
    await session.close();
  }
}

async function bench(args) {
  console.log('== Engine module (the files the page loads)');
  let rawTotal = 0;
  let gzipTotal = 0;
  for (const name of ['kestrane-engine.wasm', 'kestrane-engine.js']) {
    const bytes = fs.readFileSync(path.join(args.page, name));
    const gzipped = zlib.gzipSync(bytes, { level: 9 }).length;
    rawTotal += bytes.length;
    gzipTotal += gzipped;
    console.log(`  ${name.padEnd(22)} ${String(bytes.length).padStart(8)} bytes, gzipped ${String(gzipped).padStart(7)}`);
  }
  console.log(`  ${'together'.padEnd(22)} ${String(rawTotal).padStart(8)} bytes, gzipped ${String(gzipTotal).padStart(7)}`);

  console.log('== Time to ready (navigation start to body.dataset.ready, real time, from localhost)');
  const session = await Session.open(sessionSettings(args));
  const times = [];
  try {
    for (let i = 0; i < 5; i++) {
      await session.load();
      const log = await session.page.evaluate('kestraneWatch.log');
      const ready = log.find((e) => e.what === 'ready' && e.value === '1');
      times.push(ready.at);
    }
  } finally {
    await session.close();
  }
  console.log(`  median of 5 loads:     ${median(times).toFixed(0)} ms (${times.map((t) => t.toFixed(0)).join(', ')})`);

  console.log('== Real-time send of examples/example.upd to the emulated device');
  const cli = args.cli;
  const simulated = childProcess.spawnSync(cli, ['send', path.join(args.source, 'examples/example.upd'), '--device', 'sim', '--virtual-time', '--yes'], { encoding: 'utf8' });
  const match = /Simulated time: ([0-9.]+) s/.exec(simulated.stdout);
  if (!match)
    throw new Error(`kestrane-cli gave no simulated time:\n${simulated.stdout}${simulated.stderr}`);
  const scheduleMs = Number(match[1]) * 1000;
  const virtualMs = await timedRun(args, true);
  const wallMs = await timedRun(args, false);
  const nativeStart = process.hrtime.bigint();
  const native = childProcess.spawnSync(cli, ['send', path.join(args.source, 'examples/example.upd'), '--device', 'sim', '--yes'], { encoding: 'utf8' });
  const nativeMs = Number(process.hrtime.bigint() - nativeStart) / 1e6;
  if (native.status !== 0)
    throw new Error(`kestrane-cli send failed:\n${native.stdout}${native.stderr}`);
  const pct = (ms) => `${(100 * (ms - scheduleMs) / scheduleMs).toFixed(2)} %`;
  console.log(`  schedule (kestrane-cli, virtual time): ${scheduleMs.toFixed(0)} ms`);
  console.log(`  browser, virtual time:                 ${virtualMs.toFixed(0)} ms`);
  console.log(`  browser, wall time:                    ${wallMs.toFixed(0)} ms (overhead ${pct(wallMs)})`);
  console.log(`  native kestrane-cli, wall time:        ${nativeMs.toFixed(0)} ms (overhead ${pct(nativeMs)}, process start included)`);
}

async function main() {
  const args = parseArguments(process.argv.slice(2));
  if (args.mode === 'screenshots')
    await screenshots(args);
  else if (args.mode === 'bench')
    await bench(args);
  else
    throw new Error('usage: node web-tools.js screenshots|bench --page DIR ...');
}

main().catch((error) => {
  console.error(`web-tools: ${error.stack || error}`);
  process.exitCode = 1;
});
