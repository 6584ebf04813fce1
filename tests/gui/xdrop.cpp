// kestrane-xdrop: drops files onto a Wine program's X window, as a file
// manager does, for tests of programs under Wine without a window manager
// or a user. A native X client, built with the host's compiler.
//
//   kestrane-xdrop [--urls] DISPLAY WINDOW X Y DONE FILE...
//
// Moves the pointer to (X, Y) of the root window and waits until the
// top-level X window under it is WINDOW: a box of the program that is going
// away may still be mapped there for a moment, and another program's window
// there is lowered by raising WINDOW. Then it puts the files' paths in the
// root window's DndSelection property and sends WINDOW the OffiX DndProtocol
// message, which Wine's X11 driver turns into a WM_DROPFILES for the Windows
// window under the pointer (when that window accepts files).
// Plain, the files go as OffiX file names: Wine refuses them while the window
// is disabled (a modal box of its program is open). With --urls they go as a
// list of file: URLs, which Wine hands to a disabled window too, as it does a
// file manager's drag.
//
// Wine reads the pointer's position only when it handles the message, so the
// drop is over only once the program has handled it: a _NET_WM_PING sent
// after the drop comes back once it has (a window's X events are handled in
// order). Until then a lock keeps every other drop on this display, and so
// its pointer move, waiting.
//
// Last it writes its exit status to the file DONE: a Windows program that
// started this one under Wine gets no handle to wait on, so it waits for
// that file instead. Exit status 0 when the program handled the drop,
// 1 otherwise (the reason on stderr), 64 for a bad command line.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// OffiX drag-and-drop data types.
constexpr long kDndFile = 2;
constexpr long kDndFiles = 3;
constexpr long kDndUrl = 128;

// How long the window may take to come under the pointer, and the program to
// answer the ping; the tests wait a minute for the whole drop.
constexpr auto kWaitLimit = std::chrono::seconds(15);

int Finish(const char* done, int status) {
    if (FILE* file = std::fopen(done, "w")) {
        std::fprintf(file, "%d\n", status);
        std::fclose(file);
    }
    return status;
}

// Holds the display's drop lock until this program ends. The lock's file
// sits in the temporary folder, named after the display.
bool LockDrops(const std::string& displayName) {
    const char* temp = std::getenv("TMPDIR");
    std::string path = std::string(temp && *temp ? temp : "/tmp") + "/kestrane-xdrop-";
    for (char c : displayName)
        path += (c == '/' ? '_' : c);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    return fd >= 0 && flock(fd, LOCK_EX) == 0;
}

// The top-level window under the pointer, once the pointer is at (x, y).
Window WindowUnderPointer(Display* display, int x, int y) {
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
    return child;
}

// Waits for the next event that `match` takes, at most until `deadline`.
template <typename Match>
bool WaitForEvent(Display* display, std::chrono::steady_clock::time_point deadline, Match match) {
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (match(event))
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd connection = {ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left.count()));
    }
}

int Drop(Display* display, Window target, int x, int y, bool urls, int count, char** files) {
    const Window root = DefaultRootWindow(display);
    const auto lookDeadline = std::chrono::steady_clock::now() + kWaitLimit;
    Window under = WindowUnderPointer(display, x, y);
    while (under != target && std::chrono::steady_clock::now() < lookDeadline) {
        // The window of another test's program, moved into the same corner
        // for a drop of its own, may lie over this one: raise this one, as
        // a click on it would.
        XRaiseWindow(display, target);
        usleep(20000);
        under = WindowUnderPointer(display, x, y);
    }
    if (under != target) {
        std::fprintf(stderr, "kestrane-xdrop: the window at %d,%d is 0x%lx, not 0x%lx\n", x, y,
                     under, target);
        return 1;
    }

    // File names: each terminated, and one more terminator after the last.
    // URLs: one a line, the text terminated.
    std::string paths;
    for (int i = 0; i < count; ++i) {
        if (urls) {
            paths += i > 0 ? "\nfile:" : "file:";
            paths += files[i];
        } else {
            paths += files[i];
            paths += '\0';
        }
    }
    paths += '\0';
    XChangeProperty(display, root, XInternAtom(display, "DndSelection", False), XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(paths.data()),
                    static_cast<int>(paths.size()));

    XEvent drop = {};
    drop.xclient.type = ClientMessage;
    drop.xclient.window = target;
    drop.xclient.message_type = XInternAtom(display, "DndProtocol", False);
    drop.xclient.format = 32;
    drop.xclient.data.l[0] = urls ? kDndUrl : count > 1 ? kDndFiles : kDndFile;
    if (!XSendEvent(display, target, False, NoEventMask, &drop)) {
        std::fputs("kestrane-xdrop: the drop message could not be sent\n", stderr);
        return 1;
    }

    // The answer to the ping goes to the root window; this program's own
    // number tells it from other pings.
    XSelectInput(display, root, SubstructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    const long stamp = static_cast<long>(getpid());
    XEvent question = {};
    question.xclient.type = ClientMessage;
    question.xclient.window = target;
    question.xclient.message_type = protocols;
    question.xclient.format = 32;
    question.xclient.data.l[0] = static_cast<long>(ping);
    question.xclient.data.l[1] = stamp;
    question.xclient.data.l[2] = static_cast<long>(target);
    XSendEvent(display, target, False, NoEventMask, &question);
    XFlush(display);
    const bool answered =
        WaitForEvent(display, std::chrono::steady_clock::now() + kWaitLimit, [&](const XEvent& e) {
            return e.type == ClientMessage && e.xclient.message_type == protocols &&
                   static_cast<Atom>(e.xclient.data.l[0]) == ping && e.xclient.data.l[1] == stamp &&
                   static_cast<Window>(e.xclient.data.l[2]) == target;
        });
    if (!answered) {
        std::fputs("kestrane-xdrop: the program did not answer after the drop\n", stderr);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool urls = argc > 1 && std::string(argv[1]) == "--urls";
    if (urls) {
        --argc;
        ++argv;
    }
    if (argc < 7) {
        std::fputs("usage: kestrane-xdrop [--urls] DISPLAY WINDOW X Y DONE FILE...\n", stderr);
        return 64;
    }
    const Window target = std::strtoul(argv[2], nullptr, 0);
    const int x = std::atoi(argv[3]);
    const int y = std::atoi(argv[4]);
    const char* done = argv[5];
    if (!LockDrops(argv[1])) {
        std::perror("kestrane-xdrop: the drop lock");
        return Finish(done, 1);
    }
    Display* display = XOpenDisplay(argv[1]);
    if (!display) {
        std::fprintf(stderr, "kestrane-xdrop: cannot open display %s\n", argv[1]);
        return Finish(done, 1);
    }
    const int status = Drop(display, target, x, y, urls, argc - 6, argv + 6);
    XCloseDisplay(display);
    return Finish(done, status);
}
