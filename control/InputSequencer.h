#pragma once
// The order and the pauses of the input records that make up one key press
// or one mouse click. The caller holds the desktop lock around each call.

#include <functional>

#include "platform/InputInjector.h"

namespace orvantis {

// Modifier bits of a key press.
enum : int {
    KEYMOD_CTRL = 0x1,
    KEYMOD_ALT = 0x2,
    KEYMOD_SHIFT = 0x4,
};

// Pause between two key records, and between the two records of a click.
constexpr int kKeyPauseMs = 20;
constexpr int kClickPauseMs = 10;

class InputSequencer {
public:
    using Sleep = std::function<void(int milliseconds)>;

    InputSequencer(InputInjector& injector, Sleep sleep);

    // Presses and releases the key with the low 16 bits of `keyCode`,
    // holding down the modifiers that `modifiers` names: they go down in the
    // order Ctrl, Alt, Shift before the key and come up in reverse after it,
    // with a pause between every two records. Other modifier bits are ignored.
    void KeyPress(int keyCode, int modifiers);

    // Presses and releases the primary mouse button where the pointer is.
    void MouseClick();

private:
    void Send(InputKind kind, unsigned short key);

    InputInjector& m_injector;
    Sleep m_sleep;
};

}  // namespace orvantis
