// Asks a top-level window to close, as a window manager's close button does:
// a WM_DELETE_WINDOW client message. Usage: xclose <window id>
#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: xclose <window id>\n");
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return 1;
    const Window w = std::strtoul(argv[1], nullptr, 0);
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, w, False, NoEventMask, &ev);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return 0;
}
