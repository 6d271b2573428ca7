// Tells the moment a window of a given name is mapped on the X display, to the nanosecond:
// polling with xdotool would add tens of milliseconds of its own to a start-up time.
//
//   window-watch NAME TIMEOUT_S
//
// Prints "ready" once it listens, then the CLOCK_MONOTONIC second (with nanoseconds) at which a
// top-level window named exactly NAME became mapped, and exits 0; exits 1 on timeout. That is
// the clock of Python's time.monotonic(), which bench/measure reads at the launch.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

std::string windowName(Display* display, Window window) {
    // Qt writes the UTF-8 title into _NET_WM_NAME and a Latin-1 one into WM_NAME.
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data && type == utf8)
        name.assign(reinterpret_cast<const char*>(data), items);
    if (data)
        XFree(data);
    if (name.empty()) {
        char* plain = nullptr;
        if (XFetchName(display, window, &plain) && plain) {
            name = plain;
            XFree(plain);
        }
    }
    return name;
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A window that is gone before we ask about it must not end the watch.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window-watch NAME TIMEOUT_S\n");
        return 2;
    }
    const std::string wanted = argv[1];
    const double deadline = now() + std::atof(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window-watch: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const int fd = ConnectionNumber(display);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            Window window = None;
            if (event.type == MapNotify)
                window = event.xmap.window;
            else if (event.type == PropertyNotify &&
                     (event.xproperty.atom == netWmName || event.xproperty.atom == XA_WM_NAME))
                window = event.xproperty.window;
            if (window == None)
                continue;
            const double at = now();
            if (windowName(display, window) == wanted) {
                XWindowAttributes attributes{};
                if (XGetWindowAttributes(display, window, &attributes) &&
                    attributes.map_state == IsViewable) {
                    std::printf("%.6f\n", at);
                    XCloseDisplay(display);
                    return 0;
                }
            }
            // A window mapped before its name is set: hear when the name arrives.
            if (event.type == MapNotify) {
                XSelectInput(display, window, PropertyChangeMask);
                XSync(display, False);
            }
        }
        const double left = deadline - now();
        if (left <= 0)
            break;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval tv{long(left), long((left - long(left)) * 1e6)};
        select(fd + 1, &fds, nullptr, nullptr, &tv);
    }
    std::fprintf(stderr, "window-watch: no window named '%s' was mapped in time\n", wanted.c_str());
    XCloseDisplay(display);
    return 1;
}
