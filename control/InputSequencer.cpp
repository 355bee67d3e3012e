#include "control/InputSequencer.h"

#include <iterator>
#include <utility>

namespace orvantis {

namespace {

struct Modifier {
    int bit;
    unsigned short key;
};

// The order in which modifiers go down; they come up in reverse.
constexpr Modifier kModifiers[] = {
    {KEYMOD_CTRL, VKEY_CONTROL},
    {KEYMOD_ALT, VKEY_MENU},
    {KEYMOD_SHIFT, VKEY_SHIFT},
};

}  // namespace

InputSequencer::InputSequencer(InputInjector& injector, Sleep sleep)
    : m_injector(injector), m_sleep(std::move(sleep))
{
}

void InputSequencer::Send(InputKind kind, unsigned short key)
{
    m_injector.Send(InputRecord{kind, key});
}

void InputSequencer::KeyPress(int keyCode, int modifiers)
{
    const auto key = static_cast<unsigned short>(keyCode & 0xFFFF);

    for (const Modifier& m : kModifiers) {
        if (modifiers & m.bit) {
            Send(InputKind::KeyDown, m.key);
            m_sleep(kKeyPauseMs);
        }
    }
    Send(InputKind::KeyDown, key);
    m_sleep(kKeyPauseMs);
    Send(InputKind::KeyUp, key);
    for (auto m = std::rbegin(kModifiers); m != std::rend(kModifiers); ++m) {
        if (modifiers & m->bit) {
            m_sleep(kKeyPauseMs);
            Send(InputKind::KeyUp, m->key);
        }
    }
}

void InputSequencer::MouseClick()
{
    Send(InputKind::LeftButtonDown, 0);
    m_sleep(kClickPauseMs);
    Send(InputKind::LeftButtonUp, 0);
}

}  // namespace orvantis
