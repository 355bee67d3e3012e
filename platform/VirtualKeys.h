#pragma once
// Windows virtual-key codes (the program's own key names, InputInjector.h)
// as X keysyms, which every Linux input path speaks: XTEST looks them up in
// the server's keymap, a Wayland virtual keyboard in the keymap it sends.

#include <cstdint>

namespace orvantis {

// The X keysym (X11/keysymdef.h, also xkbcommon's) that a Windows
// virtual-key code stands for; 0 (NoSymbol) when there is none we know of.
std::uint32_t KeysymForVirtualKey(std::uint16_t virtualKey);

}  // namespace orvantis
