// The messages that JACK's and ALSA's own libraries would print to standard
// error (RtMidi itself reports through its error callback, rtmidierrors.h).
#pragma once

// From the first call on, the messages that JACK's and ALSA's libraries
// would print to standard error go to the diagnostic log.
void RouteMidiSystemMessagesToLog();
