// The emulated device of the module kestrane-devicesim.js as a JavaScript
// object, for the stand-in for Web MIDI in the page's tests:
//
//   const module = await KestraneDeviceSim();
//   const dev = makeKestraneDevice(module, updateBytes, 'script=accept\nname=My Synth');
//   dev.onmessage = (bytes) => { ... };   // each SysEx message the device sends
//   dev.deliver(bytes);                   // what the page sent, one delivery
//   setInterval(() => dev.pump(), 5);     // answers due by now go to onmessage
//
// updateBytes: the update file (Uint8Array, ArrayBuffer or array of bytes).
// optionsText: lines "key=value": script=<answer script>, version=X.YZ,
// identity=0, appear=<ms>, unplug=<portion from 1>:<bytes>:<ms>,
// whole-blocks=1, name=<port name> (both port names; "Kestrane Virtual
// Device" unless set), input-name=<the input's own name>. A refused update
// or option leaves dev.error set and a device that is never present.
(function () {
  'use strict';

  function toBytes(data) {
    if (data instanceof Uint8Array) return data;
    if (data instanceof ArrayBuffer) return new Uint8Array(data);
    if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    return Uint8Array.from(data);
  }

  // Copies bytes into the module's memory for one call.
  function withBytesIn(module, bytes, call) {
    const pointer = module._malloc(Math.max(bytes.length, 1));
    try {
      // HEAPU8 is looked up at each use: it is replaced when the memory grows.
      module.HEAPU8.set(bytes, pointer);
      return call(pointer, bytes.length);
    } finally {
      module._free(pointer);
    }
  }

  function bytesOut(module, pointer, size) {
    return size === 0 ? new Uint8Array(0) : module.HEAPU8.slice(pointer, pointer + size);
  }

  globalThis.makeKestraneDevice = function (module, updateBytes, optionsText) {
    const handle = withBytesIn(module, toBytes(updateBytes), (pointer, size) =>
      module.ccall('kestrane_device_create', 'number', ['number', 'number', 'string'],
                   [pointer, size, optionsText || '']));
    const text = (pointer) => module.UTF8ToString(pointer);
    let destroyed = false;
    const live = () => {
      if (destroyed) throw new Error('the emulated device has been destroyed');
      return handle;
    };

    const dev = {
      error: text(module._kestrane_device_error(handle)),
      outputName: text(module._kestrane_device_output_name(handle)),
      inputName: text(module._kestrane_device_input_name(handle)),
      onmessage: null,

      // Whether the device is plugged in now.
      present() {
        return module._kestrane_device_present(live()) !== 0;
      },

      // One delivery of bytes, as sent; false when the device is gone.
      deliver(data) {
        const bytes = toBytes(data);
        return withBytesIn(module, bytes, (pointer, size) =>
          module._kestrane_device_deliver(live(), pointer, size) !== 0);
      },

      // Delivers the answers due by now to onmessage, in order; returns how
      // many there were. A handler may deliver to the device again.
      pump() {
        const count = module._kestrane_device_pump(live());
        const messages = [];
        for (let index = 0; index < count; ++index) {
          messages.push(bytesOut(module, module._kestrane_device_message_data(handle, index),
                                 module._kestrane_device_message_size(handle, index)));
        }
        for (const message of messages) {
          if (typeof dev.onmessage === 'function') dev.onmessage(message);
        }
        return count;
      },

      // Every byte received, in order, as it came.
      received() {
        const size = module._kestrane_device_received_size(live());
        return bytesOut(module, module._kestrane_device_received_data(handle), size);
      },

      // One line per portion: "Portion 1 of 3: received, as expected." ...
      summary() {
        return text(module._kestrane_device_summary(live()));
      },

      identityRequests() {
        return module._kestrane_device_identity_requests(live());
      },

      // The device's log lines so far (the module keeps them instead of
      // printing them).
      log() {
        return text(module._kestrane_device_log(live()));
      },

      // Frees the device; the object is unusable afterwards.
      destroy() {
        if (!destroyed) module._kestrane_device_destroy(handle);
        destroyed = true;
      },
    };
    return dev;
  };
})();
