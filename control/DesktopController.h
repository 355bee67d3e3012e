#pragma once
// The desktop operations: a key press, a mouse click and a screenshot, one
// at a time under the control lock, so the records of two commands never
// interleave and a capture never sees a half-finished key press.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <wx/string.h>
#include <wx/thread.h>

#include "control/InputSequencer.h"
#include "control/JpegEncode.h"
#include "platform/InputInjector.h"
#include "platform/ScreenGrabber.h"

namespace orvantis {

// Pause before a capture, so the screen has settled after the command that
// usually comes just before it. It is taken before the lock.
constexpr int kCaptureSettleMs = 100;

class SpareBlock;

// The JPEG of one capture, for the connection that asked for it. Its block
// goes back to the desktop when this is let go, and a later capture is
// written into it: a fresh block of this size comes from the system with
// pages that cost more to touch for the first time than the encoding saves
// by being fast. Only one block is kept, whatever the number of captures.
class CaptureBytes {
public:
    CaptureBytes() = default;
    ~CaptureBytes() { Release(); }
    CaptureBytes(const CaptureBytes&) = delete;
    CaptureBytes& operator=(const CaptureBytes&) = delete;

    const std::string& Bytes() const { return m_bytes; }
    bool Empty() const { return m_bytes.empty(); }

    // Gives the block back (if it has a home) and leaves this empty.
    void Release();

private:
    friend class DesktopController;
    std::string m_bytes;
    std::shared_ptr<SpareBlock> m_home;
};

// What connection workers ask of the desktop. Each operation returns false,
// having done nothing, when the desktop was closed before it got its turn;
// a key press or click also when the desktop cannot take input just now
// (see InputInjector::Ready).
class DesktopOperations {
public:
    virtual ~DesktopOperations() = default;
    // Presses and releases a key (a Windows virtual-key code) with the
    // KEYMOD_* modifiers held down around it.
    virtual bool SendKeyPress(int keyCode, int modifiers) = 0;
    // Clicks the primary mouse button where the pointer is.
    virtual bool SendMouseClick() = 0;
    // Captures the primary display into "ss.jpg" in the working directory.
    // When `jpeg` is given it receives the bytes of this very capture, so a
    // caller never reads back a file that another capture is rewriting; it
    // is left empty when nothing could be captured.
    virtual bool TakeScreenshot(CaptureBytes* jpeg) = 0;
};

class DesktopController : public DesktopOperations {
public:
    using Sleep = InputSequencer::Sleep;
    // Where "ss.jpg" goes; looked up afresh for every capture.
    using ScreenshotPath = std::function<wxString()>;

    // `encodingBands`: at most this many bands of a capture are encoded at
    // once (0: one per core; see JpegEncoder).
    DesktopController(wxMutex& mutex, InputInjector& input, ScreenGrabber& grabber, Sleep sleep,
                      ScreenshotPath screenshotPath, int encodingBands = 0);

    bool SendKeyPress(int keyCode, int modifiers) override;
    bool SendMouseClick() override;
    // Writes the capture as a JPEG to the screenshot path. A failed grab is
    // tried once more, since the screen may have changed size under the
    // first one.
    bool TakeScreenshot(CaptureBytes* jpeg) override;

    // The program is closing: no operation starts from now on. Those that
    // wait for their turn give up when they get it; the one in progress
    // finishes. Callable from any thread.
    void Close();

private:
    bool IsClosed() const { return m_closed.load(std::memory_order_acquire); }

    wxMutex& m_mutex;
    InputInjector& m_input;
    ScreenGrabber& m_grabber;
    Sleep m_sleep;
    ScreenshotPath m_screenshotPath;
    std::atomic<bool> m_closed{false};
    // Used under the lock only.
    JpegEncoder m_encoder;
    // Shared with the captures handed out, which may outlive the desktop.
    std::shared_ptr<SpareBlock> m_spare;
};

// Replaces the screenshot file at `path` with `bytes` so that it never holds
// a partial picture: written into a new file of its own beside it, then
// renamed over it. Where the folder takes no new file, or the rename is
// refused, an existing plain file is rewritten in place. False, with the
// previous file left whole, when the new one cannot be written (a full disk)
// and when there is no path.
bool ReplaceScreenshotFile(const wxString& path, const std::string& bytes);

}  // namespace orvantis
