#pragma once
// Synthesised keyboard and mouse input, one record per call.
//
// A record is handed to the system input stream as if the user had typed or
// clicked: key records go to the window that has the keyboard focus, button
// records to whatever lies under the pointer. The pointer is never moved.
// Records are delivered in the order they are sent; implementations flush
// after every record so that order holds across the pauses the caller makes.

#include <cstdint>
#include <memory>

namespace orvantis {

enum class InputKind {
    KeyDown,
    KeyUp,
    LeftButtonDown,  // the primary button, also for a left-handed mouse
    LeftButtonUp,
};

struct InputRecord {
    InputKind kind;
    std::uint16_t virtualKey;  // Windows virtual-key code; 0 for button records

    bool operator==(const InputRecord& o) const {
        return kind == o.kind && virtualKey == o.virtualKey;
    }
};

// Windows virtual-key codes the program and its tests use.
enum : std::uint16_t {
    VKEY_BACK = 0x08,
    VKEY_TAB = 0x09,
    VKEY_RETURN = 0x0D,
    VKEY_SHIFT = 0x10,
    VKEY_CONTROL = 0x11,
    VKEY_MENU = 0x12,
    VKEY_ESCAPE = 0x1B,
    VKEY_SPACE = 0x20,
    VKEY_PRIOR = 0x21,
    VKEY_NEXT = 0x22,
    VKEY_END = 0x23,
    VKEY_HOME = 0x24,
    VKEY_LEFT = 0x25,
    VKEY_UP = 0x26,
    VKEY_RIGHT = 0x27,
    VKEY_DOWN = 0x28,
    VKEY_DELETE = 0x2E,
    VKEY_F1 = 0x70,
    VKEY_F12 = 0x7B,
};

class InputInjector {
public:
    virtual ~InputInjector() = default;
    // Hands exactly one record to the system. Failures are not reported.
    virtual void Send(const InputRecord& record) = 0;
    // False when records cannot reach the desktop at all (no display, or
    // one without the input extension): then every record is dropped.
    virtual bool Available() const { return true; }
    // Asked before and after every key press and click: false when the
    // desktop cannot take them just now (its remote-control session is still
    // waiting for the user's consent, or has ended, also on the way), and the
    // command then counts as not carried out. An ended session is asked for
    // again by the next command, so a later one can succeed. Injectors that
    // reach their desktop directly are always ready.
    virtual bool Ready() { return true; }
};

// The injector of the display system itself: SendInput on Windows, XTEST on
// X11 (also XWayland's). Never null: where no input facility can be reached
// (no display), the returned injector drops every record. The program picks
// its injector through CreateDesktopBackend (DesktopBackend.h).
std::unique_ptr<InputInjector> CreateNativeInputInjector();

}  // namespace orvantis
