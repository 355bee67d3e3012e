// Asks a top-level window to close, as a window manager's close button does:
// a WM_DELETE_WINDOW client message. Usage: xclose <window id>
// Prints the X server's time (ms) at which the request was sent, comparable
// with the times xevent_probe gives its events.
#include <X11/Xatom.h>
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
    // The server's time now: a property change on a window of our own comes
    // back stamped with it.
    const Window own = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(dpy, own, PropertyChangeMask);
    XChangeProperty(dpy, own, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>("t"), 1);
    XEvent reply;
    XWindowEvent(dpy, own, PropertyChangeMask, &reply);
    std::printf("%lu\n", static_cast<unsigned long>(reply.xproperty.time));
    XCloseDisplay(dpy);
    return 0;
}
