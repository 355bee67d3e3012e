// Windows virtual-key codes as X keysyms, for every Linux input backend.

#include "platform/VirtualKeys.h"

// The keysym values only: no display is opened here.
#include <X11/X.h>
#include <X11/keysym.h>

namespace orvantis {

std::uint32_t KeysymForVirtualKey(std::uint16_t vk)
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

}  // namespace orvantis
