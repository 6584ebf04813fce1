// A small Chrome DevTools protocol client over --remote-debugging-pipe
// (Chromium reads commands on its fd 3 and writes answers and events on its
// fd 4, each message JSON ended by a NUL byte), and a static HTTP server for
// the page under test. Plain node (18 and later), no packages.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const kChromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-default-apps',
  '--disable-extensions',
  '--disable-sync',
  '--no-first-run',
  '--no-default-browser-check',
  '--mute-audio',
  '--remote-debugging-pipe',
];

class Browser {
  constructor(child, profileDir) {
    this.child = child;
    this.profileDir = profileDir;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    this.stderr = '';
    this.exited = false;
    let buffer = Buffer.alloc(0);
    child.stdio[4].on('data', (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      let end;
      while ((end = buffer.indexOf(0)) >= 0) {
        const text = buffer.subarray(0, end).toString('utf8');
        buffer = buffer.subarray(end + 1);
        this.dispatch(JSON.parse(text));
      }
    });
    child.stderr.on('data', (chunk) => {
      // Kept for the failure report; Chromium is chatty, so only the tail.
      this.stderr = (this.stderr + chunk.toString()).slice(-20000);
    });
    child.on('exit', (code, signal) => {
      this.exited = true;
      const error = new Error(`chromium ended (${signal || code}) ${this.stderr.slice(-2000)}`);
      for (const { reject } of this.pending.values())
        reject(error);
      this.pending.clear();
    });
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call)
        return;
      this.pending.delete(message.id);
      if (message.error)
        call.reject(new Error(`${call.method}: ${message.error.message} ${message.error.data || ''}`));
      else
        call.resolve(message.result);
      return;
    }
    for (const listener of this.listeners.slice())
      listener(message);
  }

  // Sends a command, to the browser or (with sessionId) to one page.
  send(method, params = {}, sessionId = undefined) {
    if (this.exited)
      return Promise.reject(new Error(`chromium has ended: ${method}`));
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId)
      message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // Calls listener(params, message) for every event named method.
  on(method, listener, sessionId = undefined) {
    const wrapped = (message) => {
      if (message.method === method && (!sessionId || message.sessionId === sessionId))
        listener(message.params, message);
    };
    this.listeners.push(wrapped);
    return () => {
      this.listeners = this.listeners.filter((l) => l !== wrapped);
    };
  }

  // The next event named method, or a rejection after timeoutMs.
  waitFor(method, sessionId = undefined, timeoutMs = 120000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        off();
        reject(new Error(`no ${method} within ${timeoutMs} ms`));
      }, timeoutMs);
      const off = this.on(method, (params) => {
        clearTimeout(timer);
        off();
        resolve(params);
      }, sessionId);
    });
  }

  // Opens a new tab and returns a Page attached to it.
  async newPage() {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    return new Page(this, sessionId);
  }

  async close() {
    if (!this.exited) {
      const ended = new Promise((resolve) => this.child.once('exit', resolve));
      this.send('Browser.close').catch(() => {});
      const timer = setTimeout(() => this.child.kill('SIGKILL'), 10000);
      await ended;
      clearTimeout(timer);
    }
    fs.rmSync(this.profileDir, { recursive: true, force: true });
  }
}

class Page {
  constructor(browser, sessionId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.consoleLines = [];
    this.errors = [];
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.sessionId);
  }

  on(method, listener) {
    return this.browser.on(method, listener, this.sessionId);
  }

  waitFor(method, timeoutMs) {
    return this.browser.waitFor(method, this.sessionId, timeoutMs);
  }

  async enable() {
    this.on('Runtime.consoleAPICalled', (p) => {
      this.consoleLines.push(p.args.map((a) => (a.value !== undefined ? a.value : a.description)).join(' '));
    });
    this.on('Runtime.exceptionThrown', (p) => {
      const d = p.exceptionDetails;
      this.errors.push((d.exception && d.exception.description) || d.text);
    });
    await this.send('Page.enable');
    await this.send('Runtime.enable');
  }

  // Evaluates an expression in the page (promises awaited) and returns its
  // value; a thrown exception becomes an Error here.
  async evaluate(expression, userGesture = false) {
    const result = await this.send('Runtime.evaluate', {
      expression,
      awaitPromise: true,
      returnByValue: true,
      userGesture,
    });
    if (result.exceptionDetails) {
      const d = result.exceptionDetails;
      throw new Error(`in the page: ${(d.exception && d.exception.description) || d.text}\n  ${expression.slice(0, 200)}`);
    }
    return result.result.value;
  }

  async navigate(url) {
    const loaded = this.waitFor('Page.loadEventFired');
    const result = await this.send('Page.navigate', { url });
    if (result.errorText)
      throw new Error(`cannot load ${url}: ${result.errorText}`);
    await loaded;
  }

  // Waits in real time until the expression is true.
  async waitUntil(expression, timeoutMs = 60000, what = expression) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      if (await this.evaluate(`!!(${expression})`))
        return;
      if (Date.now() > end)
        throw new Error(`timed out waiting for ${what}`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  // Lets virtual time run for budgetMs (of the page's time), then pauses it.
  async advance(budgetMs) {
    const expired = this.waitFor('Emulation.virtualTimeBudgetExpired', 120000);
    await this.send('Emulation.setVirtualTimePolicy', {
      policy: 'pauseIfNetworkFetchesPending',
      budget: budgetMs,
    });
    await expired;
  }

  // Hands the file at filePath to the <input type=file> that selector finds,
  // as the file chooser would.
  async setFile(selector, filePath) {
    const found = await this.send('Runtime.evaluate', { expression: `document.querySelector(${JSON.stringify(selector)})` });
    if (!found.result.objectId)
      throw new Error(`no ${selector} in the page`);
    await this.send('DOM.setFileInputFiles', { files: [filePath], objectId: found.result.objectId });
  }

  async screenshot(file) {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}

// Starts Chromium headless with a profile of its own.
function launchBrowser(extraFlags = []) {
  const profileDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrane-chromium-'));
  const executable = process.env.KESTRANE_CHROMIUM || 'chromium';
  const child = childProcess.spawn(
    executable,
    [...kChromiumFlags, `--user-data-dir=${profileDir}`, '--window-size=800,600', ...extraFlags, 'about:blank'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  const browser = new Browser(child, profileDir);
  return new Promise((resolve, reject) => {
    child.once('error', (error) => reject(new Error(`cannot start ${executable}: ${error.message}`)));
    // The first answer tells that the browser listens on the pipe.
    browser.send('Browser.getVersion').then(() => resolve(browser), reject);
  });
}

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.png': 'image/png',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
};

// Serves files on 127.0.0.1 at a free port: mounts maps a URL prefix ("/",
// "/test/") to a folder or, for a prefix without a trailing slash, one file.
// Returns { url, close }.
function startServer(mounts) {
  const prefixes = Object.keys(mounts).sort((a, b) => b.length - a.length);
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    const pathname = decodeURIComponent(url.pathname);
    let file = null;
    for (const prefix of prefixes) {
      if (pathname === prefix && !prefix.endsWith('/')) {
        file = mounts[prefix];
        break;
      }
      if (prefix.endsWith('/') && pathname.startsWith(prefix)) {
        const rest = pathname.slice(prefix.length) || 'index.html';
        const root = path.resolve(mounts[prefix]);
        const candidate = path.resolve(root, rest);
        if (candidate.startsWith(root + path.sep))
          file = candidate;
        break;
      }
    }
    if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found\n');
      return;
    }
    const body = fs.readFileSync(file);
    response.writeHead(200, {
      'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream',
      'Content-Length': body.length,
      'Cache-Control': 'no-store',
    });
    response.end(request.method === 'HEAD' ? undefined : body);
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      resolve({
        url: `http://127.0.0.1:${server.address().port}`,
        close: () => new Promise((done) => server.close(done)),
      });
    });
  });
}

module.exports = { launchBrowser, startServer };
