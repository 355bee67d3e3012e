#include "control/DesktopController.h"

#include <mutex>
#include <utility>

#include "control/JpegEncode.h"
#include "platform/FileReplace.h"

namespace orvantis {

// The one block kept for the next capture.
class SpareBlock {
public:
    // The kept block, emptied, or a new empty string.
    std::string Take()
    {
        std::string block;
        std::lock_guard<std::mutex> lock(m_mutex);
        block.swap(m_block);
        return block;
    }

    // Keeps the larger of `bytes`' block and the one kept, leaving `bytes`
    // empty; a block far larger than what it held (one capture of a
    // noisier screen than usual) is not kept.
    void Keep(std::string& bytes)
    {
        const size_t used = bytes.size();
        bytes.clear();
        if (bytes.capacity() > 4 * used + (size_t{1} << 20))
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_block.capacity() < bytes.capacity())
            m_block.swap(bytes);
    }

private:
    std::mutex m_mutex;
    std::string m_block;
};

void CaptureBytes::Release()
{
    if (m_home)
        m_home->Keep(m_bytes);
    m_home.reset();
    std::string().swap(m_bytes);
}

DesktopController::DesktopController(wxMutex& mutex, InputInjector& input, ScreenGrabber& grabber,
                                     Sleep sleep, ScreenshotPath screenshotPath, int encodingBands)
    : m_mutex(mutex),
      m_input(input),
      m_grabber(grabber),
      m_sleep(std::move(sleep)),
      m_screenshotPath(std::move(screenshotPath)),
      m_encoder(encodingBands),
      m_spare(std::make_shared<SpareBlock>())
{
}

bool DesktopController::SendKeyPress(int keyCode, int modifiers)
{
    // Should the lock fail, the key is sent all the same, without it.
    wxMutexLocker lock(m_mutex);
    if (IsClosed() || !m_input.Ready())
        return false;
    InputSequencer(m_input, m_sleep).KeyPress(keyCode, modifiers);
    // The desktop may have stopped taking input on the way.
    return m_input.Ready();
}

bool DesktopController::SendMouseClick()
{
    wxMutexLocker lock(m_mutex);
    if (IsClosed() || !m_input.Ready())
        return false;
    InputSequencer(m_input, m_sleep).MouseClick();
    return m_input.Ready();
}

bool DesktopController::TakeScreenshot(CaptureBytes* jpeg)
{
    m_sleep(kCaptureSettleMs);
    wxMutexLocker lock(m_mutex);
    if (IsClosed())
        return false;

    std::string bytes = m_spare->Take();
    // The pixels stay the grabber's and the next capture writes over them:
    // they are encoded into bytes of our own before the lock is released.
    ScreenPixels screen;
    const bool grabbed = m_grabber.GrabPrimary(screen) || m_grabber.GrabPrimary(screen);
    if (grabbed && m_encoder.Encode(screen, bytes)) {
        // A directory that cannot be written, or a full disk, leaves the
        // previous file whole and shows no message; the caller still has
        // the bytes.
        ReplaceScreenshotFile(m_screenshotPath(), bytes);
    }
    if (jpeg) {
        jpeg->Release();
        jpeg->m_bytes.swap(bytes);
        jpeg->m_home = m_spare;
    } else {
        m_spare->Keep(bytes);
    }
    return true;
}

void DesktopController::Close()
{
    m_closed.store(true, std::memory_order_release);
}

bool ReplaceScreenshotFile(const wxString& path, const std::string& bytes)
{
    // The new capture goes into a new file beside the old one and then takes
    // its name in one step: programs that read "ss.jpg" meanwhile, a kill in
    // the middle of the write and a full disk all leave a whole picture
    // there. The new file is one of our own, created exclusively under a
    // name nobody else chose, so whatever others put into the folder is
    // never written through.
    if (path.empty())
        return false;
    wxString written;
    switch (WriteNewFileBeside(path, bytes, written)) {
    case NewFileResult::Written:
        if (ReplaceFileWith(written, path))
            return true;
        // The system refused the rename (another program holds the file
        // open without sharing it for deletion): write it in place.
        RemoveFileQuietly(written);
        return OverwriteFileInPlace(path, bytes);
    case NewFileResult::NotCreated:
        // A folder that cannot take a new file may still hold a screenshot
        // file that can be written: rewrite that one in place.
        return OverwriteFileInPlace(path, bytes);
    case NewFileResult::NotWritten:
        break;  // a full disk: the previous file stays whole
    }
    return false;
}

}  // namespace orvantis
