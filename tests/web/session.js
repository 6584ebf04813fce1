// One browser session with the page, the Web MIDI stand-in and the emulated
// device: serving, loading, playing the user and reading what the page
// showed. Used by the browser tests, the screenshots and the benchmark.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { launchBrowser, startServer } = require('./devtools');

const here = __dirname;

class Session {
  // settings: pageDir, deviceModule, deviceApi, updateFile (the file the
  // device expects), options (device options text), webMidi, permission,
  // virtualTime.
  static async open(settings) {
    const session = new Session(settings);
    try {
      await session.start();
    } catch (error) {
      await session.close();
      throw error;
    }
    return session;
  }

  constructor(settings) {
    this.settings = settings;
    this.workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-web-'));
    this.browser = null;
    this.server = null;
    this.page = null;
  }

  async start() {
    const s = this.settings;
    const testDir = path.join(this.workDir, 'test');
    fs.mkdirSync(testDir);
    fs.copyFileSync(s.deviceModule, path.join(testDir, 'kestrane-devicesim.js'));
    fs.copyFileSync(s.deviceApi, path.join(testDir, 'devicesim-api.js'));
    fs.copyFileSync(s.updateFile, path.join(testDir, 'device-update'));
    this.server = await startServer({ '/': s.pageDir, '/test/': testDir });
    this.browser = await launchBrowser();
    this.page = await this.browser.newPage();
    await this.page.enable();
    await this.page.send('Emulation.setDeviceMetricsOverride', { width: 800, height: 600, deviceScaleFactor: 1, mobile: false });
    const config = {
      webMidi: s.webMidi !== false,
      secure: s.secure !== false,
      busyMs: s.busyMs || 0,
      permission: s.permission || 'granted',
      moduleUrl: '/test/kestrane-devicesim.js',
      apiUrl: '/test/devicesim-api.js',
      updateUrl: '/test/device-update',
      options: s.options || '',
    };
    const source = `globalThis.kestraneStandinConfig = ${JSON.stringify(config)};\n` +
      fs.readFileSync(path.join(here, 'standin-midi.js'), 'utf8') + '\n' +
      fs.readFileSync(path.join(here, 'page-watch.js'), 'utf8');
    await this.page.send('Page.addScriptToEvaluateOnNewDocument', { source });
  }

  // Loads the page and waits until its engine is ready and, with Web MIDI,
  // the device stands behind the stand-in.
  async load() {
    await this.page.navigate(this.server.url + '/');
    await this.page.waitUntil('document.body && document.body.dataset.ready === "1"', 60000, 'the page to be ready');
    if (this.settings.webMidi !== false && this.settings.secure !== false) {
      await this.page.waitUntil('kestraneStandin.device || kestraneStandin.error', 60000, 'the emulated device');
      const error = await this.page.evaluate('kestraneStandin.error');
      if (error)
        throw new Error(error);
    }
  }

  // Opens a file as the user does: picked in the file dialog, or dropped on
  // the page.
  async openFile(file, how = 'input') {
    if (how === 'input') {
      await this.page.setFile('#file-input', file);
      return;
    }
    const name = path.basename(file);
    const url = `/test/drop-${name}`;
    fs.copyFileSync(file, path.join(this.workDir, 'test', `drop-${name}`));
    await this.page.evaluate(`(async () => {
      const bytes = await (await fetch(${JSON.stringify(url)})).arrayBuffer();
      const transfer = new DataTransfer();
      transfer.items.add(new File([bytes], ${JSON.stringify(name)}));
      const target = document.elementFromPoint(innerWidth / 2, innerHeight / 2) || document.body;
      for (const type of ['dragenter', 'dragover', 'drop'])
        target.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
    })()`);
  }

  click(selector) {
    return this.page.evaluate(`document.querySelector(${JSON.stringify(selector)}).click()`, true);
  }

  text(selector) {
    return this.page.evaluate(`document.querySelector(${JSON.stringify(selector)}).textContent`);
  }

  // Plays the user until the run has ended: every message box is read and
  // answered with OK, and in the port dialog the output named portName is
  // picked. In virtual time the page's clock runs only in steps between the
  // checks, so nothing the page shows is missed; otherwise the checks poll.
  // onStep(session, elapsedMs) runs after every check, onBox(session, title)
  // before a box is answered; the run has ended
  // when the page's state is one of settled with no box open.
  async finishRun({ portName = null, virtualTime = true, limitMs = 600000, onStep = null, onBox = null, settled = ['done'] } = {}) {
    const started = Date.now();
    let virtualMs = 0;
    let quiet = 0;
    for (;;) {
      // An exception the page did not catch ends its run where it was.
      if (this.page.errors.length)
        throw new Error(`the page threw: ${this.page.errors[0].split('\n')[0]}`);
      const seen = await this.page.evaluate(`(() => {
        const box = document.querySelector('#message-dialog');
        const ports = document.querySelector('#port-dialog');
        return { state: document.body.dataset.state, box: !!(box && box.open), ports: !!(ports && ports.open) };
      })()`);
      if (seen.box) {
        if (onBox)
          await onBox(this, await this.text('#message-title'));
        await this.click('#message-ok');
        quiet = 0;
      } else if (seen.ports) {
        const picked = await this.page.evaluate(`(() => {
          const list = document.querySelector('#port-list');
          const option = Array.from(list.options).find((o) => o.textContent === ${JSON.stringify(portName)});
          if (!option)
            return false;
          list.value = option.value;
          list.dispatchEvent(new Event('change', { bubbles: true }));
          return true;
        })()`);
        await this.click(picked ? '#port-ok' : '#port-cancel');
        quiet = 0;
      } else if (settled.includes(seen.state)) {
        // Settled with no box open; a box may still follow within the step.
        if (++quiet >= 3)
          return;
      } else {
        quiet = 0;
      }
      if (onStep)
        await onStep(this, virtualTime ? virtualMs : Date.now() - started);
      if (virtualTime) {
        await this.page.advance(100);
        virtualMs += 100;
        if (virtualMs > limitMs)
          throw new Error(`the run has not ended after ${limitMs / 1000} s of the page's time (state ${seen.state})`);
      } else {
        await new Promise((resolve) => setTimeout(resolve, 20));
        if (Date.now() - started > limitMs)
          throw new Error(`the run has not ended after ${limitMs / 1000} s (state ${seen.state})`);
      }
    }
  }

  // Everything the page showed, the stand-in's sends and the device's record.
  async results() {
    return this.page.evaluate(`(() => {
      const s = globalThis.kestraneStandin;
      const d = s.device;
      return {
        log: globalThis.kestraneWatch.log,
        requests: s.requests,
        sends: s.sends,
        sendErrors: s.sendErrors,
        refusedOpens: s.refusedOpens,
        received: d ? Array.from(d.received()) : [],
        deviceSummary: d ? d.summary() : '',
      };
    })()`);
  }

  diagnostics() {
    if (!this.page)
      return '';
    const lines = [];
    if (this.page.errors.length)
      lines.push('page exceptions:', ...this.page.errors.map((e) => '  ' + e));
    if (this.page.consoleLines.length)
      lines.push('page console (last 40 lines):', ...this.page.consoleLines.slice(-40).map((l) => '  ' + l));
    return lines.join('\n');
  }

  async close() {
    if (this.browser)
      await this.browser.close().catch(() => {});
    if (this.server)
      await this.server.close();
    fs.rmSync(this.workDir, { recursive: true, force: true });
  }
}

module.exports = { Session };
