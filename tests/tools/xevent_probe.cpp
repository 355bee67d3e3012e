// xevent_probe: a window that reports the input it receives.
//
// Creates a 400x300 window at (0,0), maps it, takes the keyboard focus and
// prints one line per event on stdout, flushed at once:
//   READY                      once the window is mapped and has the focus
//   KEY_DOWN <keysym name> t=<ms>   e.g. KEY_DOWN Next t=123456 (the X
//   KEY_UP <keysym name> t=<ms>     server's time of the event)
//   BUTTON_DOWN <n> <x> <y>    button number, window coordinates
//   BUTTON_UP <n> <x> <y>
// It takes the focus back (and comes back on top) whenever it loses it, and
// exits on SIGTERM, SIGINT or when its standard input is closed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int g_wakePipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &byte, 1);
}

int IgnoreXErrors(Display*, XErrorEvent*)
{
    // SetInputFocus fails with BadMatch while the window is not viewable;
    // the next FocusOut/MapNotify tries again.
    return 0;
}

void Say(const char* line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char* KeyName(XKeyEvent* event)
{
    const KeySym keysym = XLookupKeysym(event, 0);
    const char* name = keysym != NoSymbol ? XKeysymToString(keysym) : nullptr;
    return name ? name : "NoSymbol";
}

}  // namespace

int main()
{
    // Standard input already closed: nothing to wait for. (Checked first, as
    // otherwise the next descriptor opened, the X connection, would be 0.)
    if (fcntl(STDIN_FILENO, F_GETFD) == -1)
        return 0;
    if (pipe(g_wakePipe) != 0)
        return 1;
    fcntl(g_wakePipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xevent_probe: cannot open display\n");
        return 1;
    }
    XSetErrorHandler(&IgnoreXErrors);

    const int screen = DefaultScreen(display);
    XSetWindowAttributes attrs{};
    // Override-redirect: a window manager, if any, neither moves nor frames
    // it, so it really sits at (0,0).
    attrs.override_redirect = True;
    attrs.background_pixel = WhitePixel(display, screen);
    attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                       FocusChangeMask | VisibilityChangeMask;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), 0, 0, 400, 300, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attrs);
    XStoreName(display, window, "xevent_probe");
    XMapRaised(display, window);
    XFlush(display);

    bool mapped = false;
    bool ready = false;
    auto lastRaise = std::chrono::steady_clock::now() - std::chrono::seconds(1);

    auto takeFocus = [&] {
        if (!mapped)
            return;
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
    };
    auto comeOnTop = [&] {
        // At most a few times a second, so two windows that both want to be
        // on top cannot spin against each other.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRaise < std::chrono::milliseconds(200))
            return;
        lastRaise = now;
        XRaiseWindow(display, window);
        XFlush(display);
    };
    auto checkReady = [&] {
        if (ready || !mapped)
            return;
        Window focus = None;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        if (focus == window) {
            ready = true;
            Say("READY");
        }
    };

    char line[256];
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            switch (event.type) {
            case MapNotify:
                mapped = true;
                takeFocus();
                checkReady();
                break;
            case UnmapNotify:
                mapped = false;
                break;
            case FocusIn:
                checkReady();
                break;
            case FocusOut:
                // Pointer-related and grab-related focus changes come back by
                // themselves; a real move of the focus elsewhere does not.
                if (event.xfocus.mode == NotifyNormal && event.xfocus.detail != NotifyInferior &&
                    event.xfocus.detail != NotifyPointer) {
                    takeFocus();
                    comeOnTop();
                }
                break;
            case VisibilityNotify:
                if (event.xvisibility.state != VisibilityUnobscured)
                    comeOnTop();
                break;
            case KeyPress:
            case KeyRelease:
                std::snprintf(line, sizeof line, "%s %s t=%lu", event.type == KeyPress ? "KEY_DOWN" : "KEY_UP",
                              KeyName(&event.xkey), static_cast<unsigned long>(event.xkey.time));
                Say(line);
                break;
            case ButtonPress:
            case ButtonRelease:
                std::snprintf(line, sizeof line, "%s %u %d %d",
                              event.type == ButtonPress ? "BUTTON_DOWN" : "BUTTON_UP", event.xbutton.button,
                              event.xbutton.x, event.xbutton.y);
                Say(line);
                break;
            default:
                break;
            }
        }

        pollfd fds[3] = {
            {ConnectionNumber(display), POLLIN, 0},
            {STDIN_FILENO, POLLIN, 0},
            {g_wakePipe[0], POLLIN, 0},
        };
        // Poll with a time-out so the focus is checked now and then even
        // when no event says it was lost (a window that was mapped with
        // input focus before ours saw a FocusOut).
        const int n = poll(fds, 3, 250);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[2].revents)
            break;  // SIGTERM or SIGINT
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char buffer[256];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0 && !(got < 0 && errno == EINTR))
                break;  // standard input closed
        }
        if (n == 0 && mapped) {
            Window focus = None;
            int revert = 0;
            XGetInputFocus(display, &focus, &revert);
            if (focus != window)
                takeFocus();
            checkReady();
        }
    }

    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
