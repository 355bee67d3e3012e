// Keyboard and mouse input on Windows: one SendInput record per call.

#include "platform/InputInjector.h"

#include <windows.h>

namespace orvantis {

namespace {

class WindowsInputInjector : public InputInjector {
public:
    void Send(const InputRecord& record) override
    {
        INPUT input;
        ZeroMemory(&input, sizeof input);
        switch (record.kind) {
        case InputKind::KeyDown:
        case InputKind::KeyUp:
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = record.virtualKey;
            input.ki.wScan = 0;
            input.ki.time = 0;
            input.ki.dwExtraInfo = 0;
            input.ki.dwFlags = record.kind == InputKind::KeyUp ? KEYEVENTF_KEYUP : 0;
            break;
        case InputKind::LeftButtonDown:
            // Injected button events are swapped like physical ones: for a
            // left-handed user the primary click is the right button's event.
            m_swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
            input.type = INPUT_MOUSE;
            input.mi.dwFlags = m_swapped ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
            break;
        case InputKind::LeftButtonUp:
            // Released as it was pressed, even if the setting changed between.
            input.type = INPUT_MOUSE;
            input.mi.dwFlags = m_swapped ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
            break;
        }
        SendInput(1, &input, sizeof(INPUT));
    }

private:
    bool m_swapped = false;
};

}  // namespace

std::unique_ptr<InputInjector> CreateNativeInputInjector()
{
    return std::make_unique<WindowsInputInjector>();
}

}  // namespace orvantis
