// A stand-in for Web MIDI (navigator.requestMIDIAccess) in front of the
// emulated device, for browsers that cannot reach a MIDI system. It behaves as
// the Web MIDI API describes and as Chromium does: maplike port lists, port
// states and statechange events, implicit open, and send() that refuses
// anything that is not a sequence of whole MIDI messages.
//
// The test runner puts its settings in globalThis.kestraneStandinConfig before
// this script runs at the start of every document:
//   webMidi        false: the browser has no Web MIDI at all
//   busyMs         the device's ports are held by another program for this
//                  long after the page starts: opening them fails
//   secure         false: the page is not a secure context (plain http://
//                  from another computer), where browsers offer no Web MIDI
//   permission     "granted" or "refused" (requestMIDIAccess rejects)
//   moduleUrl, apiUrl  the emulated device's module and its JS helper
//   updateUrl      the update file the device expects
//   options        the device's options text (key=value lines)
// What happened is in globalThis.kestraneStandin: requests (requestMIDIAccess
// calls), sends (the bytes of every send() call, in order), device.
(function () {
  'use strict';
  const config = globalThis.kestraneStandinConfig || {};
  const busyUntil = performance.now() + Number(config.busyMs || 0);
  const state = {
    requests: 0,
    refusedOpens: 0,
    sends: [],
    sendErrors: [],
    device: null,
    error: '',
  };
  globalThis.kestraneStandin = state;

  if (config.secure === false)
    Object.defineProperty(window, 'isSecureContext', { get: () => false, configurable: true });
  if (config.webMidi === false || config.secure === false) {
    delete Navigator.prototype.requestMIDIAccess;
    delete navigator.requestMIDIAccess;
    return;
  }

  // Event handler attributes (onstatechange, onmidimessage) on top of
  // EventTarget, as the DOM defines them.
  function defineHandler(target, type, onSet) {
    let handler = null;
    const listener = (event) => {
      if (typeof handler === 'function')
        handler.call(target, event);
    };
    Object.defineProperty(target, 'on' + type, {
      get: () => handler,
      set: (value) => {
        const had = handler !== null;
        handler = typeof value === 'function' ? value : null;
        if (handler && !had)
          target.addEventListener(type, listener);
        else if (!handler && had)
          target.removeEventListener(type, listener);
        if (handler && onSet)
          onSet();
      },
      configurable: true,
      enumerable: true,
    });
  }

  function connectionEvent(port) {
    const event = new Event('statechange');
    Object.defineProperty(event, 'port', { value: port, enumerable: true });
    return event;
  }

  class MIDIPort extends EventTarget {
    constructor(access, id, name, type) {
      super();
      this._access = access;
      this._connection = 'closed';
      this._state = 'disconnected';
      Object.defineProperties(this, {
        id: { value: id, enumerable: true },
        name: { value: name, enumerable: true },
        manufacturer: { value: 'Kestrane', enumerable: true },
        version: { value: '1.0', enumerable: true },
        type: { value: type, enumerable: true },
      });
      defineHandler(this, 'statechange');
    }
    get state() {
      return this._state;
    }
    get connection() {
      return this._connection;
    }
    _changed() {
      this.dispatchEvent(connectionEvent(this));
      this._access.dispatchEvent(connectionEvent(this));
    }
    _setConnection(connection) {
      if (this._connection === connection)
        return;
      this._connection = connection;
      this._changed();
    }
    // A disconnected port opens as "pending" and becomes open when the
    // device comes back.
    open() {
      if (this._connection === 'closed' && this._state === 'connected' && performance.now() < busyUntil) {
        state.refusedOpens++;
        return Promise.reject(exception('InvalidAccessError', `Port "${this.name}" is already in use.`));
      }
      if (this._connection === 'closed')
        this._setConnection(this._state === 'connected' ? 'open' : 'pending');
      return Promise.resolve(this);
    }
    close() {
      this._setConnection('closed');
      return Promise.resolve(this);
    }
    _setState(present) {
      const next = present ? 'connected' : 'disconnected';
      if (this._state === next)
        return;
      this._state = next;
      if (present && this._connection === 'pending')
        this._connection = 'open';
      else if (!present && this._connection === 'open')
        this._connection = 'pending';
      this._changed();
    }
  }

  class MIDIInput extends MIDIPort {
    constructor(access, id, name) {
      super(access, id, name, 'input');
      // Setting onmidimessage opens the port, as the API says; so does a
      // midimessage listener in Chromium.
      // An implicit open that fails tells the page nothing, as in Chromium.
      defineHandler(this, 'midimessage', () => this.open().catch(() => {}));
    }
    addEventListener(type, listener, options) {
      super.addEventListener(type, listener, options);
      if (type === 'midimessage' && listener)
        this.open().catch(() => {});
    }
    _receive(bytes) {
      if (this._connection !== 'open' || this._state !== 'connected')
        return;
      const event = new Event('midimessage');
      Object.defineProperty(event, 'data', { value: new Uint8Array(bytes), enumerable: true });
      this.dispatchEvent(event);
    }
  }

  function exception(name, message) {
    return new DOMException(message, name);
  }

  // WebIDL's sequence<octet>: any iterable, each item taken modulo 256.
  function toOctets(data) {
    if (data === null || data === undefined || typeof data[Symbol.iterator] !== 'function' || typeof data === 'string')
      throw new TypeError("Failed to execute 'send' on 'MIDIOutput': The provided value cannot be converted to a sequence.");
    const out = [];
    for (const item of data) {
      let n = Number(item);
      n = Number.isFinite(n) ? Math.trunc(n) : 0;
      out.push(((n % 256) + 256) % 256);
    }
    return new Uint8Array(out);
  }

  // Chromium refuses the reserved status bytes F4, F5, F9 and FD.
  function isReserved(b) {
    return b === 0xf4 || b === 0xf5 || b === 0xf9 || b === 0xfd;
  }
  function isRealTime(b) {
    return b >= 0xf8 && !isReserved(b);
  }
  function messageLength(status) {
    if (status < 0xc0)
      return 3;
    if (status < 0xe0)
      return 2;
    if (status < 0xf0)
      return 3;
    return { 0xf1: 2, 0xf2: 3, 0xf3: 2, 0xf6: 1 }[status] || 1;
  }

  // Throws as Chromium's MIDIOutput.send() does for data that is not a
  // sequence of whole messages. Real-time bytes may come anywhere, inside a
  // SysEx message or a channel message too.
  function validate(bytes, sysexEnabled) {
    let i = 0;
    const fail = (text) => {
      throw new TypeError(`Failed to execute 'send' on 'MIDIOutput': ${text}`);
    };
    while (i < bytes.length) {
      const status = bytes[i];
      if (isRealTime(status)) {
        i++;
        continue;
      }
      if (status < 0x80)
        fail(`Running status is not allowed at index ${i} (${status}).`);
      if (status === 0xf7)
        fail(`Unexpected end of system exclusive message at index ${i} (${status}).`);
      if (isReserved(status))
        fail(`Reserved status is not allowed at index ${i} (${status}).`);
      if (status === 0xf0) {
        if (!sysexEnabled)
          throw exception('InvalidAccessError',
            "Failed to execute 'send' on 'MIDIOutput': System exclusive message is not allowed at index " + i + ' (240).');
        let j = i + 1;
        for (; j < bytes.length; j++) {
          const b = bytes[j];
          if (b === 0xf7 || (b >= 0x80 && !isRealTime(b)))
            break;
        }
        if (j >= bytes.length)
          fail(`System exclusive message is not ended by end of system exclusive message.`);
        if (bytes[j] !== 0xf7)
          fail(`System exclusive message contains a status byte at index ${j} (${bytes[j]}).`);
        i = j + 1;
        continue;
      }
      let need = messageLength(status) - 1;
      let j = i + 1;
      while (need > 0) {
        if (j >= bytes.length)
          fail(`Message is incomplete.`);
        const b = bytes[j];
        if (b >= 0x80 && !isRealTime(b))
          fail(`Message is not ended before the next status byte at index ${j} (${b}).`);
        if (b < 0x80)
          need--;
        j++;
      }
      i = j;
    }
  }

  class MIDIOutput extends MIDIPort {
    constructor(access, id, name, device) {
      super(access, id, name, 'output');
      this._device = device;
      this._queue = Promise.resolve();
    }
    send(data, timestamp = 0) {
      const bytes = toOctets(data);
      try {
        validate(bytes, this._access.sysexEnabled);
        if (this._state !== 'connected')
          throw exception('InvalidStateError', "Failed to execute 'send' on 'MIDIOutput': Port is disconnected.");
      } catch (error) {
        state.sendErrors.push({ name: error.name, message: error.message, bytes: Array.from(bytes) });
        throw error;
      }
      // Sending opens the port; a port that cannot be opened takes nothing.
      if (this._connection !== 'open' && performance.now() < busyUntil) {
        const error = exception('InvalidAccessError', `Port "${this.name}" is already in use.`);
        state.sendErrors.push({ name: error.name, message: error.message, bytes: Array.from(bytes) });
        throw error;
      }
      if (this._connection !== 'open')
        this.open().catch(() => {});
      // delivered: false when the device was gone before the browser noticed
      // (the bytes are lost, as on a wire that was pulled).
      const sent = { at: performance.now(), bytes: Array.from(bytes), delivered: null };
      state.sends.push(sent);
      const delay = Number(timestamp) - performance.now();
      if (!(delay > 0)) {
        sent.delivered = this._device.deliver(bytes);
        return;
      }
      setTimeout(() => {
        sent.delivered = this._device.deliver(bytes);
      }, delay);
    }
    clear() {}
  }

  // The maplike port lists: get, has, size, keys, values, entries, forEach
  // and iteration, in the order ports appeared.
  class PortMap {
    constructor() {
      this._map = new Map();
    }
    get size() {
      return this._map.size;
    }
    get(id) {
      return this._map.get(id);
    }
    has(id) {
      return this._map.has(id);
    }
    keys() {
      return this._map.keys();
    }
    values() {
      return this._map.values();
    }
    entries() {
      return this._map.entries();
    }
    forEach(callback, thisArg) {
      this._map.forEach((value, key) => callback.call(thisArg, value, key, this));
    }
    [Symbol.iterator]() {
      return this._map.entries();
    }
  }

  class MIDIAccess extends EventTarget {
    constructor(sysexEnabled) {
      super();
      Object.defineProperties(this, {
        inputs: { value: new PortMap(), enumerable: true },
        outputs: { value: new PortMap(), enumerable: true },
        sysexEnabled: { value: sysexEnabled, enumerable: true },
      });
      defineHandler(this, 'statechange');
    }
  }

  async function loadScript(url) {
    const response = await fetch(url);
    if (!response.ok)
      throw new Error(`${url}: ${response.status}`);
    // Indirect eval: the script's top-level names become globals, as with a
    // <script> element.
    (0, eval)(await response.text());
  }

  // The device exists from the start of the document, so its record covers
  // everything the page ever sends.
  const deviceReady = (async () => {
    await loadScript(config.moduleUrl);
    await loadScript(config.apiUrl);
    const module = await globalThis.KestraneDeviceSim();
    const response = await fetch(config.updateUrl);
    const update = new Uint8Array(await response.arrayBuffer());
    const device = globalThis.makeKestraneDevice(module, update, config.options || '');
    if (device.error)
      throw new Error(`the emulated device refused its settings: ${device.error}`);
    state.device = device;
    return device;
  })();
  deviceReady.catch((error) => {
    state.error = String(error && error.stack || error);
  });
  state.ready = deviceReady;

  const accesses = [];
  let present = false;

  function poll(device) {
    device.pump();
    const now = !!device.present();
    if (now === present)
      return;
    present = now;
    for (const access of accesses) {
      if (!access.ports && present) {
        access.ports = {
          output: new MIDIOutput(access.access, 'output-0', device.outputName, device),
          input: new MIDIInput(access.access, 'input-0', device.inputName),
        };
        access.access.outputs._map.set('output-0', access.ports.output);
        access.access.inputs._map.set('input-0', access.ports.input);
      }
      if (access.ports) {
        access.ports.output._setState(present);
        access.ports.input._setState(present);
      }
    }
  }

  deviceReady.then((device) => {
    device.onmessage = (bytes) => {
      for (const access of accesses) {
        if (access.ports)
          access.ports.input._receive(bytes);
      }
    };
    present = false;
    poll(device);
    setInterval(() => poll(device), 5);
  }, () => {});

  function requestMIDIAccess(options) {
    state.requests++;
    const sysex = !!(options && options.sysex);
    if (config.permission === 'refused')
      return Promise.reject(exception('NotAllowedError', 'Permission denied.'));
    return deviceReady.then((device) => {
      const access = new MIDIAccess(sysex);
      const entry = { access, ports: null };
      accesses.push(entry);
      // Ports present now are listed at once, without events.
      if (present) {
        entry.ports = {
          output: new MIDIOutput(access, 'output-0', device.outputName, device),
          input: new MIDIInput(access, 'input-0', device.inputName),
        };
        entry.ports.output._state = 'connected';
        entry.ports.input._state = 'connected';
        access.outputs._map.set('output-0', entry.ports.output);
        access.inputs._map.set('input-0', entry.ports.input);
      }
      return access;
    });
  }

  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    value: requestMIDIAccess,
    writable: true,
    configurable: true,
    enumerable: true,
  });
})();
