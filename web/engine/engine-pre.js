// Helpers of the engine's JavaScript calls (webjs.cpp), in the module's scope.

// A text for the engine: UTF-8 in memory from malloc, which the engine frees.
function kestraneEngineText(text) {
    const size = lengthBytesUTF8(text) + 1;
    const at = _malloc(size);
    stringToUTF8(text, at, size);
    return at;
}

// A text from the engine. An update's names and messages are bytes as the
// file holds them: UTF-8 when they are valid UTF-8, else the Windows code
// page that update files are written in, as the Windows program shows them.
function kestraneEngineString(at) {
    const bytes = HEAPU8.subarray(at, HEAPU8.indexOf(0, at));
    try {
        return new TextDecoder("utf-8", {fatal: true}).decode(bytes);
    } catch (e) {
        return new TextDecoder("windows-1252").decode(bytes);
    }
}
