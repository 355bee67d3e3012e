// The records and pauses of a key press and a click, and how the desktop
// operations of several connection threads follow one another.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <wx/image.h>
#include <wx/init.h>
#include <wx/mstream.h>

#include "control/DesktopController.h"
#include "control/InputSequencer.h"
#include "platform/FileReplace.h"

using namespace orvantis;

namespace {

// One event seen by the fake: a record or a pause.
struct Event {
    enum Type { Record, Pause, Grab } type;
    InputRecord record;
    int ms;
    std::thread::id thread;

    bool operator==(const Event& o) const
    {
        return type == o.type && (type == Pause ? ms == o.ms : record == o.record);
    }
};

std::ostream& operator<<(std::ostream& os, const Event& e)
{
    if (e.type == Event::Pause)
        return os << "pause(" << e.ms << ")";
    if (e.type == Event::Grab)
        return os << "grab";
    static const char* kinds[] = {"down", "up", "button-down", "button-up"};
    return os << kinds[static_cast<int>(e.record.kind)] << "(0x" << std::hex << e.record.virtualKey << std::dec
              << ")";
}

Event Rec(InputKind kind, std::uint16_t key = 0) { return {Event::Record, {kind, key}, 0, {}}; }
Event Pause(int ms) { return {Event::Pause, {}, ms, {}}; }

// Records what reaches the system, and the pauses in between, in one
// timeline shared by all threads.
class Recorder : public InputInjector {
public:
    void Send(const InputRecord& record) override { Add({Event::Record, record, 0, std::this_thread::get_id()}); }
    void Grabbed() { Add({Event::Grab, {}, 0, std::this_thread::get_id()}); }
    void Sleep(int ms)
    {
        Add({Event::Pause, {}, ms, std::this_thread::get_id()});
        if (realPauses)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Event> RecordsOnly()
    {
        std::vector<Event> out;
        for (const Event& e : Events())
            if (e.type == Event::Record)
                out.push_back(e);
        return out;
    }
    bool realPauses = false;

private:
    void Add(const Event& e)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(e);
    }
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

class FakeGrabber : public ScreenGrabber {
public:
    // BGRX rows like an X server's, red `shade` and blue 255 - shade.
    bool GrabPrimary(ScreenPixels& out) override
    {
        ++grabs;
        if (recorder)
            recorder->Grabbed();
        if (!display)
            return false;
        pixels.assign(static_cast<size_t>(width) * height * 4, 0);
        for (size_t i = 0; i < pixels.size(); i += 4) {
            pixels[i] = 255 - shade;
            pixels[i + 2] = shade;
        }
        out.data = pixels.data();
        out.width = width;
        out.height = height;
        out.stride = static_cast<size_t>(width) * 4;
        out.format = PixelFormat::Bgrx32;
        return true;
    }
    std::vector<unsigned char> pixels;
    bool display = true;
    int width = 64;
    int height = 48;
    unsigned char shade = 200;
    std::atomic<int> grabs{0};
    Recorder* recorder = nullptr;
};

class WxEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_init = new wxInitializer();
        if (!wxImage::FindHandler(wxBITMAP_TYPE_JPEG))
            wxImage::AddHandler(new wxJPEGHandler);
    }
    void TearDown() override { delete m_init; }

private:
    wxInitializer* m_init = nullptr;
};
const auto* const g_wxEnvironment = ::testing::AddGlobalTestEnvironment(new WxEnvironment);

}  // namespace

TEST(KeyPress, PlainPressIsTwoRecordsAroundOnePause)
{
    Recorder r;
    InputSequencer(r, [&](int ms) { r.Sleep(ms); }).KeyPress(VKEY_NEXT, 0);
    EXPECT_EQ(r.Events(), (std::vector<Event>{Rec(InputKind::KeyDown, 0x22), Pause(20), Rec(InputKind::KeyUp, 0x22)}));
}

TEST(KeyPress, ModifiersGoDownCtrlAltShiftAndComeUpInReverse)
{
    Recorder r;
    InputSequencer seq(r, [&](int ms) { r.Sleep(ms); });
    seq.KeyPress('K', KEYMOD_CTRL | KEYMOD_SHIFT);
    EXPECT_EQ(r.Events(), (std::vector<Event>{
                              Rec(InputKind::KeyDown, VKEY_CONTROL), Pause(20),
                              Rec(InputKind::KeyDown, VKEY_SHIFT), Pause(20),
                              Rec(InputKind::KeyDown, 'K'), Pause(20),
                              Rec(InputKind::KeyUp, 'K'), Pause(20),
                              Rec(InputKind::KeyUp, VKEY_SHIFT), Pause(20),
                              Rec(InputKind::KeyUp, VKEY_CONTROL)}));

    Recorder all;
    InputSequencer(all, [&](int ms) { all.Sleep(ms); }).KeyPress(VKEY_F1, KEYMOD_CTRL | KEYMOD_ALT | KEYMOD_SHIFT);
    EXPECT_EQ(all.RecordsOnly(), (std::vector<Event>{
                                     Rec(InputKind::KeyDown, VKEY_CONTROL), Rec(InputKind::KeyDown, VKEY_MENU),
                                     Rec(InputKind::KeyDown, VKEY_SHIFT), Rec(InputKind::KeyDown, VKEY_F1),
                                     Rec(InputKind::KeyUp, VKEY_F1), Rec(InputKind::KeyUp, VKEY_SHIFT),
                                     Rec(InputKind::KeyUp, VKEY_MENU), Rec(InputKind::KeyUp, VKEY_CONTROL)}));
    EXPECT_EQ(all.Events().size(), 8u + 7u);
}

TEST(KeyPress, UnknownModifierBitsAndHighKeyBitsAreIgnored)
{
    Recorder plain, odd;
    InputSequencer(plain, [&](int ms) { plain.Sleep(ms); }).KeyPress(VKEY_PRIOR, 0);
    InputSequencer(odd, [&](int ms) { odd.Sleep(ms); }).KeyPress(0x7FFF0000 | VKEY_PRIOR, 0x8 | 0x100);
    EXPECT_EQ(plain.Events(), odd.Events());

    Recorder high;
    InputSequencer(high, [&](int ms) { high.Sleep(ms); }).KeyPress(0x12345, 0);
    EXPECT_EQ(high.RecordsOnly(), (std::vector<Event>{Rec(InputKind::KeyDown, 0x2345), Rec(InputKind::KeyUp, 0x2345)}));
}

TEST(MouseClick, TwoButtonRecordsTenMillisecondsApart)
{
    Recorder r;
    InputSequencer(r, [&](int ms) { r.Sleep(ms); }).MouseClick();
    EXPECT_EQ(r.Events(), (std::vector<Event>{Rec(InputKind::LeftButtonDown), Pause(10), Rec(InputKind::LeftButtonUp)}));
}

TEST(DesktopController, CommandsFromManyThreadsNeverInterleave)
{
    Recorder r;
    r.realPauses = true;
    FakeGrabber grabber;
    wxMutex mutex;
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); }, [] { return wxString("/nonexistent/dir/ss.jpg"); });

    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 3; ++n) {
                if (i % 3 == 0)
                    desktop.SendKeyPress(VKEY_NEXT, 0);
                else if (i % 3 == 1)
                    desktop.SendKeyPress(VKEY_PRIOR, KEYMOD_SHIFT);
                else
                    desktop.SendMouseClick();
            }
        });
    }
    for (auto& t : threads)
        t.join();

    // Records of one command come from one thread, in one unbroken run, and
    // every press is released before the next command's first record.
    const std::vector<Event> records = r.RecordsOnly();
    ASSERT_EQ(records.size(), 2u * 6 + 4u * 6 + 2u * 6);
    int held = 0;
    std::thread::id owner;
    for (const Event& e : records) {
        const bool down = e.record.kind == InputKind::KeyDown || e.record.kind == InputKind::LeftButtonDown;
        if (held == 0)
            owner = e.thread;
        EXPECT_EQ(e.thread, owner) << "records of two commands interleaved";
        held += down ? 1 : -1;
        ASSERT_GE(held, 0);
    }
    EXPECT_EQ(held, 0);
}

TEST(DesktopController, ClickAskedForDuringAKeyPressStartsAfterItsLastRecord)
{
    Recorder r;
    r.realPauses = true;
    FakeGrabber grabber;
    wxMutex mutex;
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); }, [] { return wxString(); });

    std::thread key([&] { desktop.SendKeyPress('A', KEYMOD_CTRL | KEYMOD_ALT); });
    while (r.Events().empty())
        std::this_thread::yield();
    desktop.SendMouseClick();
    key.join();

    const std::vector<Event> records = r.RecordsOnly();
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records[5], Rec(InputKind::KeyUp, VKEY_CONTROL));
    EXPECT_EQ(records[6], Rec(InputKind::LeftButtonDown));
}

namespace {

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        std::random_device random;
        for (;;) {
            const fs::path p = fs::temp_directory_path() / ("orvantis-shot-" + std::to_string(random()));
            if (fs::create_directory(p)) {
                dir = p.string();
                break;
            }
        }
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir;
};

wxImage Decode(const std::string& jpeg)
{
    wxMemoryInputStream in(jpeg.data(), jpeg.size());
    return wxImage(in, wxBITMAP_TYPE_JPEG);
}

}  // namespace

TEST_F(ScreenshotTest, WritesTheFileAndHandsOverTheSameBytes)
{
    Recorder r;
    FakeGrabber grabber;
    wxMutex mutex;
    const std::string path = dir + "/ss.jpg";
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); },
                              [&] { return wxString::FromUTF8(path.c_str()); });

    CaptureBytes first, second;
    desktop.TakeScreenshot(&first);
    grabber.shade = 20;
    grabber.width = 80;
    desktop.TakeScreenshot(&second);

    // The pause comes first, before the lock and the grab.
    EXPECT_EQ(r.Events(), (std::vector<Event>{Pause(100), Pause(100)}));
    ASSERT_FALSE(second.Empty());
    EXPECT_EQ(Read(path), second.Bytes()) << "the file holds the second capture, whole";
    const wxImage decoded = Decode(second.Bytes());
    ASSERT_TRUE(decoded.IsOk());
    EXPECT_EQ(decoded.GetWidth(), 80);
    EXPECT_EQ(decoded.GetHeight(), 48);
    EXPECT_NEAR(decoded.GetRed(5, 5), 20, 8);
    EXPECT_NEAR(decoded.GetBlue(5, 5), 235, 8);
}

TEST_F(ScreenshotTest, UnwritableDirectoryLeavesNoFileButTheBytesStillCome)
{
    Recorder r;
    FakeGrabber grabber;
    wxMutex mutex;
    // A directory that does not exist cannot be written, not even by root.
    const std::string path = dir + "/gone/ss.jpg";
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); },
                              [&] { return wxString::FromUTF8(path.c_str()); });
    CaptureBytes jpeg;
    desktop.TakeScreenshot(&jpeg);
    EXPECT_FALSE(jpeg.Empty());
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST_F(ScreenshotTest, NoDisplayMeansNoBytesAndTheOldFileStays)
{
    Recorder r;
    FakeGrabber grabber;
    grabber.display = false;
    wxMutex mutex;
    const std::string path = dir + "/ss.jpg";
    std::ofstream(path) << "previous capture";
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); },
                              [&] { return wxString::FromUTF8(path.c_str()); });
    CaptureBytes jpeg;
    desktop.TakeScreenshot(&jpeg);
    EXPECT_TRUE(jpeg.Empty());
    EXPECT_EQ(Read(path), "previous capture");
}

TEST_F(ScreenshotTest, CaptureWaitsForAKeyPressInProgress)
{
    Recorder r;
    r.realPauses = true;
    FakeGrabber grabber;
    wxMutex mutex;
    DesktopController desktop(mutex, r, grabber, [&](int ms) { r.Sleep(ms); },
                              [&] { return wxString::FromUTF8((dir + "/ss.jpg").c_str()); });
    grabber.recorder = &r;
    // Ctrl+Alt+Shift+key holds the lock for 7 pauses of 20 ms, longer than
    // the capture's own 100 ms pause.
    std::thread key([&] { desktop.SendKeyPress('Q', KEYMOD_CTRL | KEYMOD_ALT | KEYMOD_SHIFT); });
    while (r.Events().empty())
        std::this_thread::yield();
    CaptureBytes jpeg;
    desktop.TakeScreenshot(&jpeg);
    key.join();
    const std::vector<Event> events = r.Events();
    ASSERT_EQ(events.back().type, Event::Grab) << "the screen was copied while a key was still held";
    EXPECT_EQ(grabber.grabs, 1);
}

#ifndef _WIN32
TEST_F(ScreenshotTest, NamesPlantedInTheFolderAreNeverWrittenThrough)
{
    namespace fs = std::filesystem;
    const std::string notes = dir + "/notes.txt";
    std::ofstream(notes) << "the user's notes";
    const std::string path = dir + "/ss.jpg";
    const std::string part = path + ".part";
    const std::string created = dir + "/created-by-a-link";

    // A link to the user's file, a dangling link and a second name of the
    // user's file, each under the name the screenshot used to be written to.
    const std::vector<std::function<void()>> plants = {
        [&] { fs::create_symlink(notes, part); },
        [&] { fs::create_symlink(created, part); },
        [&] { fs::create_hard_link(notes, part); },
    };
    for (const auto& plant : plants) {
        std::error_code ignored;
        fs::remove(part, ignored);
        plant();
        ASSERT_TRUE(ReplaceScreenshotFile(wxString::FromUTF8(path.c_str()), "new capture"));
        EXPECT_EQ(Read(notes), "the user's notes");
        EXPECT_FALSE(fs::exists(created));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
        EXPECT_EQ(Read(path), "new capture");
    }
    // Nothing of ours is left beside it.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"notes.txt", "ss.jpg", "ss.jpg.part"}));

    // Nor is a link at the screenshot's own name followed when the folder
    // takes no new file and the file has to be written in place.
    fs::remove(path);
    fs::create_symlink(notes, path);
    EXPECT_FALSE(OverwriteFileInPlace(wxString::FromUTF8(path.c_str()), "in place"));
    EXPECT_EQ(Read(notes), "the user's notes");
}

TEST_F(ScreenshotTest, ReadOnlyFolderWithAWritableFileGetsItRewrittenInPlace)
{
    const std::string path = dir + "/ss.jpg";
    std::ofstream(path) << "previous capture";
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    // As another user, on a thread of its own: the folder is read-only to
    // it, the file is not. (Changing the file-system user drops root's
    // override of permissions for this thread only.)
    bool replaced = false;
    std::thread other([&] {
        if (::geteuid() == 0)
            ::setfsuid(65534);
        replaced = ReplaceScreenshotFile(wxString::FromUTF8(path.c_str()), "new capture");
    });
    other.join();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(Read(path), "new capture");
}
#endif
