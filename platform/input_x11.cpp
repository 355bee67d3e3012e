// Input injection for X11 through the XTEST extension.
//
// The injector keeps a display connection of its own, so it can be used from
// any thread (one at a time) without touching the toolkit's connection.

#include "platform/InputInjector.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace orvantis {

namespace {

// The X keysym a Windows virtual-key code stands for; NoSymbol when there is
// none we know of.
KeySym KeysymForVirtualKey(std::uint16_t vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9')
        return XK_0 + (vk - '0');
    if (vk >= 0x70 && vk <= 0x87)  // F1 .. F24
        return XK_F1 + (vk - 0x70);
    if (vk >= 0x60 && vk <= 0x69)  // numeric keypad 0 .. 9
        return XK_KP_0 + (vk - 0x60);
    switch (vk) {
    case 0x08: return XK_BackSpace;
    case 0x09: return XK_Tab;
    case 0x0C: return XK_Clear;
    case 0x0D: return XK_Return;
    case 0x10: return XK_Shift_L;    // VK_SHIFT
    case 0x11: return XK_Control_L;  // VK_CONTROL
    case 0x12: return XK_Alt_L;      // VK_MENU
    case 0x13: return XK_Pause;
    case 0x14: return XK_Caps_Lock;
    case 0x1B: return XK_Escape;
    case 0x20: return XK_space;
    case 0x21: return XK_Prior;      // VK_PRIOR, Page Up
    case 0x22: return XK_Next;       // VK_NEXT, Page Down
    case 0x23: return XK_End;
    case 0x24: return XK_Home;
    case 0x25: return XK_Left;
    case 0x26: return XK_Up;
    case 0x27: return XK_Right;
    case 0x28: return XK_Down;
    case 0x2C: return XK_Print;
    case 0x2D: return XK_Insert;
    case 0x2E: return XK_Delete;
    case 0x5B: return XK_Super_L;    // VK_LWIN
    case 0x5C: return XK_Super_R;    // VK_RWIN
    case 0x5D: return XK_Menu;       // VK_APPS
    case 0x6A: return XK_KP_Multiply;
    case 0x6B: return XK_KP_Add;
    case 0x6D: return XK_KP_Subtract;
    case 0x6E: return XK_KP_Decimal;
    case 0x6F: return XK_KP_Divide;
    case 0x90: return XK_Num_Lock;
    case 0x91: return XK_Scroll_Lock;
    case 0xA0: return XK_Shift_L;    // VK_LSHIFT
    case 0xA1: return XK_Shift_R;    // VK_RSHIFT
    case 0xA2: return XK_Control_L;  // VK_LCONTROL
    case 0xA3: return XK_Control_R;  // VK_RCONTROL
    case 0xA4: return XK_Alt_L;      // VK_LMENU
    case 0xA5: return XK_Alt_R;      // VK_RMENU
    default: return NoSymbol;
    }
}

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
