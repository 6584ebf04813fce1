// kestrane-xdrop: drops files onto the X window under a point of the screen,
// as a file manager does, for tests of programs under Wine without a window
// manager or a user. A native X client, built with the host's compiler.
//
//   kestrane-xdrop [--urls] DISPLAY X Y DONE FILE...
//
// Moves the pointer to (X, Y) of the root window, puts the files' paths in
// the root window's DndSelection property and sends the window under the
// pointer the OffiX DndProtocol message, which Wine's X11 driver turns into a
// WM_DROPFILES for the Windows window there (when that window accepts files).
// Plain, the files go as OffiX file names: Wine refuses them while the window
// is disabled (a modal box of its program is open). With --urls they go as a
// list of file: URLs, which Wine hands to a disabled window too, as it does a
// file manager's drag.
// Last it writes its exit status to the file DONE: a Windows program that
// started this one under Wine gets no handle to wait on, so it waits for
// that file instead. Exit status 0 when the message went out, 1 otherwise,
// 64 for a bad command line.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// OffiX drag-and-drop data types.
constexpr long kDndFile = 2;
constexpr long kDndFiles = 3;
constexpr long kDndUrl = 128;

int Finish(const char* done, int status) {
    if (FILE* file = std::fopen(done, "w")) {
        std::fprintf(file, "%d\n", status);
        std::fclose(file);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const bool urls = argc > 1 && std::string(argv[1]) == "--urls";
    if (urls) {
        --argc;
        ++argv;
    }
    if (argc < 6) {
        std::fputs("usage: kestrane-xdrop [--urls] DISPLAY X Y DONE FILE...\n", stderr);
        return 64;
    }
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    const char* done = argv[4];
    Display* display = XOpenDisplay(argv[1]);
    if (!display) {
        std::fprintf(stderr, "kestrane-xdrop: cannot open display %s\n", argv[1]);
        return Finish(done, 1);
    }
    const Window root = DefaultRootWindow(display);
    XWarpPointer(display, None, root, 0, 0, 0, 0, x, y);
    XSync(display, False);
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int childX = 0;
    int childY = 0;
    unsigned int mask = 0;
    XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &childX, &childY, &mask);
    if (!child) {
        std::fprintf(stderr, "kestrane-xdrop: no window at %d,%d\n", x, y);
        XCloseDisplay(display);
        return Finish(done, 1);
    }

    // File names: each terminated, and one more terminator after the last.
    // URLs: one a line, the text terminated.
    std::string paths;
    for (int i = 5; i < argc; ++i) {
        if (urls) {
            paths += i > 5 ? "\nfile:" : "file:";
            paths += argv[i];
        } else {
            paths += argv[i];
            paths += '\0';
        }
    }
    paths += '\0';
    XChangeProperty(display, root, XInternAtom(display, "DndSelection", False), XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(paths.data()),
                    static_cast<int>(paths.size()));

    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = child;
    event.xclient.message_type = XInternAtom(display, "DndProtocol", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = urls ? kDndUrl : argc > 6 ? kDndFiles : kDndFile;
    const Status sent = XSendEvent(display, child, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return Finish(done, sent ? 0 : 1);
}
