#include "midisystemlog.h"

#include "utils.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#ifdef KESTRANE_HAVE_JACK
#include <jack/jack.h>
#endif
#ifdef KESTRANE_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace {

#ifdef KESTRANE_HAVE_JACK
void LogJackMessage(const char* text) {
    LogText("JACK: %s\n", text);
}
#endif

#ifdef KESTRANE_HAVE_ALSA
void LogAlsaMessage(const char* file, int line, const char* function, int err, const char* format,
                    ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogText("ALSA: %s:%d (%s) %s%s%s\n", file, line, function, text, err ? ": " : "",
            err ? snd_strerror(err) : "");
}
#endif

} // namespace

void RouteMidiSystemMessagesToLog() {
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef KESTRANE_HAVE_JACK
        jack_set_error_function(&LogJackMessage);
        jack_set_info_function(&LogJackMessage);
#endif
#ifdef KESTRANE_HAVE_ALSA
        snd_lib_error_set_handler(&LogAlsaMessage);
#endif
    });
}
