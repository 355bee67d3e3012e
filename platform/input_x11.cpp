// Input injection for X11 through the XTEST extension.
//
// The injector keeps a display connection of its own, so it can be used from
// any thread (one at a time) without touching the toolkit's connection.

#include "platform/InputInjector.h"
#include "platform/VirtualKeys.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace orvantis {

namespace {

// Drops every record: there is no display, or it has no XTEST.
class NullInputInjector : public InputInjector {
public:
    void Send(const InputRecord&) override {}
    bool Available() const override { return false; }
};

class X11InputInjector : public InputInjector {
public:
    explicit X11InputInjector(Display* display) : display_(display) {}

    ~X11InputInjector() override
    {
        // Never leave the primary button held down behind us.
        if (pressedButton_)
            XTestFakeButtonEvent(display_, pressedButton_, False, CurrentTime);
        XCloseDisplay(display_);
    }

    void Send(const InputRecord& record) override
    {
        TakeMappingChanges();
        switch (record.kind) {
        case InputKind::KeyDown:
        case InputKind::KeyUp: {
            const KeySym keysym = KeysymForVirtualKey(record.virtualKey);
            if (keysym == NoSymbol)
                return;
            const KeyCode keycode = XKeysymToKeycode(display_, keysym);
            if (keycode == 0)
                return;
            XTestFakeKeyEvent(display_, keycode, record.kind == InputKind::KeyDown, CurrentTime);
            break;
        }
        case InputKind::LeftButtonDown: {
            const unsigned button = PhysicalPrimaryButton();
            if (button == 0)
                return;
            XTestFakeButtonEvent(display_, button, True, CurrentTime);
            pressedButton_ = button;
            break;
        }
        case InputKind::LeftButtonUp: {
            // Release the very button we pressed, even if the mapping changed
            // in between; otherwise it would stay held down.
            const unsigned button = pressedButton_ ? pressedButton_ : PhysicalPrimaryButton();
            if (button == 0)
                return;
            XTestFakeButtonEvent(display_, button, False, CurrentTime);
            pressedButton_ = 0;
            break;
        }
        }
        XFlush(display_);
    }

private:
    // XTEST fakes physical buttons, which the server then maps to logical
    // ones (XSetPointerMapping; a left-handed mouse swaps 1 and 3). The
    // primary click is logical button 1, so find the physical button that
    // maps to it. Read afresh each time: the mapping can change at any time.
    unsigned PhysicalPrimaryButton()
    {
        unsigned char map[256];
        const int count = XGetPointerMapping(display_, map, sizeof map);
        for (int i = 0; i < count; ++i) {
            if (map[i] == 1)
                return static_cast<unsigned>(i + 1);
        }
        return count > 0 ? 0 : 1;  // no physical button gives a primary click
    }

    // Keycodes come from Xlib's copy of the keyboard mapping; bring it up to
    // date when the server says the mapping changed (another layout, say).
    void TakeMappingChanges()
    {
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MappingNotify)
                XRefreshKeyboardMapping(&event.xmapping);
        }
    }

    Display* display_;
    unsigned pressedButton_ = 0;
};

}  // namespace

std::unique_ptr<InputInjector> CreateNativeInputInjector()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return std::make_unique<NullInputInjector>();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return std::make_unique<NullInputInjector>();
    }
    return std::make_unique<X11InputInjector>(display);
}

}  // namespace orvantis
