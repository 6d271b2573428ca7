// Tells the moment a window of a given name is mapped on the X display, and the moment the
// program first draws into it, to the nanosecond: polling with xdotool would add tens of
// milliseconds of its own to a start-up time. A program may map its window early and draw it
// late, so the second moment is the one a player waits for.
//
//   window-watch NAME TIMEOUT_S
//   window-watch --frames WINDOW_ID SECONDS
//
// Prints "ready" once it listens, then the CLOCK_MONOTONIC seconds (with nanoseconds) at which
// a top-level window named exactly NAME became mapped and first drawn into, on one line, and
// exits 0; exits 1 on timeout. That is the clock of Python's time.monotonic(), which
// bench/measure reads at the launch. With --frames it prints, for SECONDS, the moment of every
// drawing into the window WINDOW_ID (a frame may come as several rectangles), which
// bench/states turns into the cadence a player sees.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
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

// Waits for the next event until `deadline`; false once it has passed.
bool nextEvent(Display* display, double deadline, XEvent& event) {
    const int fd = ConnectionNumber(display);
    while (!XPending(display)) {
        const double left = deadline - now();
        if (left <= 0)
            return false;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval tv{long(left), long((left - long(left)) * 1e6)};
        select(fd + 1, &fds, nullptr, nullptr, &tv);
    }
    XNextEvent(display, &event);
    return true;
}

int frames(Display* display, int damageBase, Window window, double seconds) {
    XDamageCreate(display, window, XDamageReportRawRectangles);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    const double deadline = now() + seconds;
    XEvent event;
    while (nextEvent(display, deadline, event))
        if (event.type == damageBase + XDamageNotify)
            std::printf("%.6f\n", now());
    XCloseDisplay(display);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool framesMode = argc == 4 && std::strcmp(argv[1], "--frames") == 0;
    if (argc != 3 && !framesMode) {
        std::fprintf(stderr, "usage: window-watch NAME TIMEOUT_S\n"
                             "       window-watch --frames WINDOW_ID SECONDS\n");
        return 2;
    }
    const std::string wanted = argv[1];
    const double deadline = now() + std::atof(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window-watch: cannot open the display\n");
        return 2;
    }
    int damageBase = 0, damageErrorBase = 0;
    if (!XDamageQueryExtension(display, &damageBase, &damageErrorBase)) {
        std::fprintf(stderr, "window-watch: the display has no DAMAGE extension\n");
        return 2;
    }
    if (framesMode)
        return frames(display, damageBase, Window(std::strtoul(argv[2], nullptr, 0)),
                      std::atof(argv[3]));
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    // The first drawing may follow the map at once, before we would hear of the name: every
    // top-level window is watched for drawing from its creation.
    std::map<Window, double> drawn;
    Window found = None;
    double mappedAt = 0;
    XEvent event;
    while (nextEvent(display, deadline, event)) {
        Window window = None;
        if (event.type == CreateNotify) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
            continue;
        }
        if (event.type == damageBase + XDamageNotify) {
            const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
            XWindowAttributes attributes{};
            // Drawing before the map (the server clearing a new window) is no frame.
            if (!drawn.count(damage.drawable) &&
                XGetWindowAttributes(display, damage.drawable, &attributes) &&
                attributes.map_state == IsViewable)
                drawn[damage.drawable] = now();
            XDamageSubtract(display, damage.damage, None, None);
        } else if (event.type == MapNotify) {
            window = event.xmap.window;
        } else if (event.type == PropertyNotify &&
                   (event.xproperty.atom == netWmName || event.xproperty.atom == XA_WM_NAME)) {
            window = event.xproperty.window;
        }
        if (window != None && found == None) {
            const double at = now();
            XWindowAttributes attributes{};
            if (windowName(display, window) == wanted &&
                XGetWindowAttributes(display, window, &attributes) &&
                attributes.map_state == IsViewable) {
                found = window;
                mappedAt = at;
            } else if (event.type == MapNotify) {
                // A window mapped before its name is set: hear when the name arrives.
                XSelectInput(display, window, PropertyChangeMask);
                XSync(display, False);
            }
        }
        if (found != None && drawn.count(found)) {
            std::printf("%.6f %.6f\n", mappedAt, drawn[found]);
            XCloseDisplay(display);
            return 0;
        }
    }
    std::fprintf(stderr, "window-watch: no window named '%s' was mapped and drawn in time\n",
                 wanted.c_str());
    XCloseDisplay(display);
    return 1;
}
