// The page's use of Web MIDI, for the engine's MIDI port (webmidiport.cpp):
// access with SysEx, the ports present, the output and input in use, sending
// whole messages and passing input on. Nothing here decides which port is the
// device: the engine matches the names, as the other ports do.
"use strict";

class MidiUnavailable extends Error {
  constructor(reason, message) {
    super(message);
    this.reason = reason; // "absent" or "refused"
  }
}

const kestraneMidi = {
  access: null,
  outputs: [], // the ports as last listed, in the browser's order
  inputs: [],
  output: null, // the ports in use
  input: null,
  uses: 0, // counts use(): an answer to an earlier use's opens is ignored
  opening: 0, // opens of the ports in use not yet answered by the browser
  openRefused: false, // the browser could not open one of them
  onInput: null, // set by the page: called with each message's bytes

  available() {
    return typeof navigator.requestMIDIAccess === "function";
  },

  // Asks the browser for MIDI with SysEx (once; a refusal is asked again on
  // the next try). Throws MidiUnavailable.
  async start() {
    if (this.access)
      return;
    if (!this.available())
      throw new MidiUnavailable("absent", "no Web MIDI");
    try {
      this.access = await navigator.requestMIDIAccess({sysex: true});
    } catch (error) {
      console.log(`MIDI access refused: ${error.name}: ${error.message}`);
      throw new MidiUnavailable("refused", error.message);
    }
    // A device that is plugged in (or switched on) late shows up in the
    // maps, which the engine lists each time it looks for its device; the
    // changes are logged. Older implementations have only the handler.
    const log = (event) => {
      const port = event && event.port;
      if (port)
        console.log(`MIDI ${port.type} "${port.name}": ${port.state}, ${port.connection}`);
    };
    if (typeof this.access.addEventListener === "function")
      this.access.addEventListener("statechange", log);
    else
      this.access.onstatechange = log;
  },

  present(map) {
    const ports = [];
    if (map)
      map.forEach((port) => {
        if (port.state !== "disconnected")
          ports.push(port);
      });
    return ports;
  },

  // The names of ports, one per entry; a line break in a name would split
  // it, so none is passed on.
  names(ports) {
    return ports.map((port) => String(port.name ?? "").replace(/[\r\n]/g, " "));
  },

  // The names of the ports present now, remembered for use().
  listOutputs() {
    this.outputs = this.present(this.access && this.access.outputs);
    return this.names(this.outputs);
  },

  listInputs() {
    this.inputs = this.present(this.access && this.access.inputs);
    return this.names(this.inputs);
  },

  use(outputIndex, inputIndex) {
    this.release();
    this.output = this.outputs[outputIndex] ?? null;
    this.input = this.inputs[inputIndex] ?? null;
    if (!this.output || !this.input)
      return;
    const output = this.output;
    const input = this.input;
    input.onmidimessage = (event) => {
      if (this.input === input && this.onInput)
        this.onInput(event.data);
    };
    // Sending opens an output by itself, and setting onmidimessage an input;
    // opening both now lets the browser tell whether it can: it cannot when
    // another program holds the device (on Windows a MIDI port has one user
    // at a time).
    const use = ++this.uses;
    this.opening = 0;
    this.openRefused = false;
    for (const port of [output, input]) {
      ++this.opening;
      let opened;
      try {
        opened = Promise.resolve(port.open());
      } catch (error) {
        opened = Promise.reject(error);
      }
      opened.then(() => {}, (error) => {
        console.log(`MIDI ${port.type} "${port.name}" did not open: ${error.name}: ${error.message}`);
        if (this.uses === use)
          this.openRefused = true;
      }).finally(() => {
        if (this.uses === use)
          --this.opening;
      });
    }
  },

  // Whether the browser has answered both opens of the last use().
  openSettled() {
    return this.opening === 0;
  },

  isConnected() {
    return Boolean(this.output && this.input && !this.openRefused &&
                   this.output.state === "connected" && this.input.state === "connected");
  },

  // Hands one whole message to the output: "" when it took it, else why not.
  send(bytes) {
    if (!this.output)
      return "no output is in use";
    try {
      this.output.send(bytes);
      return "";
    } catch (error) {
      return `${error.name}: ${error.message}`;
    }
  },

  release() {
    if (this.input)
      this.input.onmidimessage = null;
    for (const port of [this.output, this.input])
      if (port)
        Promise.resolve(port.close()).catch(() => {});
    this.output = null;
    this.input = null;
  },
};
globalThis.kestraneMidi = kestraneMidi;
globalThis.MidiUnavailable = MidiUnavailable;
