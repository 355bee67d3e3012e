// The answers as bytes on the wire: header, control page and whole files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/init.h>

#include "platform/WorkingDirectory.h"
#include "server/HttpAnswer.h"

using orvantis::ByteSink;

namespace {

// Keeps every write call apart, as the connection would see them.
class RecordingSink : public ByteSink {
public:
    void Write(const void* data, std::size_t length) override
    {
        writes.emplace_back(static_cast<const char*>(data), length);
    }
    std::string All() const
    {
        std::string all;
        for (const auto& w : writes)
            all += w;
        return all;
    }
    std::vector<std::string> writes;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TempDir {
public:
    TempDir()
    {
        namespace fs = std::filesystem;
        std::random_device random;
        for (;;) {
            const fs::path p = fs::temp_directory_path() / ("orvantis-answer-" + std::to_string(random()));
            if (fs::create_directory(p)) {
                path = p.string();
                break;
            }
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string File(const std::string& name, const std::string& bytes) const
    {
        const std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    std::string path;
};

}  // namespace

TEST(ResponseHeader, ExactBytesFor200And404)
{
    EXPECT_EQ(orvantis::FormatResponseHeader(200, "text/html", 2162),
              "HTTP/1.1 200 OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: text/html\r\n"
              "content-length: 2162\r\nConnection: close\r\n\r\n");
    // The reason phrase stays "OK" after 404.
    EXPECT_EQ(orvantis::FormatResponseHeader(404, "text/html", 0),
              "HTTP/1.1 404 OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: text/html\r\n"
              "content-length: 0\r\nConnection: close\r\n\r\n");
}

TEST(ResponseHeader, HeaderAndBodyAreTwoWritesAndAnEmptyBodyIsNone)
{
    RecordingSink sink;
    orvantis::SendResponseTo(sink, 404, "text/html", orvantis::kScreenshotNotFoundBody, 37);
    ASSERT_EQ(sink.writes.size(), 2u);
    EXPECT_EQ(sink.writes[1], "Sorry: Can't validate your request...");
    EXPECT_NE(sink.writes[0].find("content-length: 37\r\n"), std::string::npos);

    RecordingSink empty;
    orvantis::SendResponseTo(empty, 404, "text/html", "", 0);
    ASSERT_EQ(empty.writes.size(), 1u);
}

TEST(ControlPage, MatchesTheGoldenPageByteForByte)
{
    const std::string golden = ReadFile(ORVANTIS_TEST_DATA_DIR "/control_page_welcome.html");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(orvantis::FormatControlPage("Welcome to Orvantis", 300, 225, 1765432109L), golden);
}

TEST(ControlPage, PageAnswerCarriesTheWholePageWithoutLineBreaks)
{
    RecordingSink sink;
    orvantis::SendControlPageTo(sink, "Done Command:  Mouse Click", 300, 225, 1765432109L);
    ASSERT_EQ(sink.writes.size(), 2u);
    const std::string& page = sink.writes[1];
    EXPECT_GT(page.size(), 2000u);
    EXPECT_EQ(sink.writes[0], orvantis::FormatResponseHeader(200, "text/html", static_cast<long>(page.size())));
    EXPECT_EQ(page.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(page.find(" Done Command:  Mouse Click "), std::string::npos);
    EXPECT_NE(page.find("<img width=\"300\" height=\"225\" src=\"/getss1765432109\"/>"), std::string::npos);
}

TEST(ControlPage, MessageGoesInUnchangedEvenWithPercentSigns)
{
    const std::string page = orvantis::FormatControlPage("100% <b>done</b> %s %d", 300, 225, 7);
    EXPECT_NE(page.find("100% <b>done</b> %s %d"), std::string::npos);
    EXPECT_NE(page.find("src=\"/getss7\""), std::string::npos);
}

TEST(FileAnswer, WholeFileWithItsLength)
{
    TempDir dir;
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    const std::string path = dir.File("ss.jpg", bytes);

    RecordingSink sink;
    ASSERT_TRUE(orvantis::SendFileTo(sink, wxString::FromUTF8(path.c_str()), "image/JPEG"));
    ASSERT_GE(sink.writes.size(), 2u);
    EXPECT_EQ(sink.writes[0], orvantis::FormatResponseHeader(200, "image/JPEG", 300000));
    EXPECT_EQ(sink.All().substr(sink.writes[0].size()), bytes);
}

TEST(FileAnswer, MissingEmptyOrIrregularFileSendsNothing)
{
    TempDir dir;
    RecordingSink sink;
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString::FromUTF8((dir.path + "/bg.gif").c_str()), "image/GIF"));
    const std::string empty = dir.File("bg.gif", "");
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString::FromUTF8(empty.c_str()), "image/GIF"));
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString::FromUTF8(dir.path.c_str()), "image/GIF"));
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString(), "image/GIF"));
#ifndef _WIN32
    // A FIFO with no writer would hold a blocking open for good.
    const std::string fifo = dir.path + "/fifo.gif";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString::FromUTF8(fifo.c_str()), "image/GIF"));
#endif
    EXPECT_TRUE(sink.writes.empty());
}

TEST(FileAnswer, NoBufferMeansNothingSentNotAHeaderWithoutItsBody)
{
    TempDir dir;
    const std::string path = dir.File("bg.gif", "GIF89a....");
    RecordingSink sink;
    EXPECT_FALSE(orvantis::SendFileTo(sink, wxString::FromUTF8(path.c_str()), "image/GIF",
                                      [](std::size_t) -> void* { return nullptr; }));
    EXPECT_TRUE(sink.writes.empty());
}

namespace {
std::string g_shrinkPath;
void* ShrinkFileThenAllocate(std::size_t size)
{
    // The file loses its tail after it was opened and before it is read.
    std::filesystem::resize_file(g_shrinkPath, 1000);
    return std::malloc(size);
}

// Takes the first `room` bytes, then reports the connection broken.
class BreakingSink : public RecordingSink {
public:
    void Write(const void* data, std::size_t length) override
    {
        ++calls;
        if (taken + length > room) {
            broken = true;
            return;
        }
        taken += length;
        RecordingSink::Write(data, length);
    }
    bool Broken() const override { return broken; }
    std::size_t room = 0, taken = 0;
    int calls = 0;
    bool broken = false;
};
}  // namespace

TEST(FileAnswer, FileThatShrankMeanwhileEndsTheBodyEarly)
{
    TempDir dir;
    g_shrinkPath = dir.File("ss.jpg", std::string(5000, 'x'));
    RecordingSink sink;
    ASSERT_TRUE(orvantis::SendFileTo(sink, wxString::FromUTF8(g_shrinkPath.c_str()), "image/JPEG",
                                     ShrinkFileThenAllocate));
    ASSERT_GE(sink.writes.size(), 2u);
    // The length as opened, and then what was left to read: the phone sees
    // an answer that is not whole rather than a whole-looking short one.
    EXPECT_EQ(sink.writes[0], orvantis::FormatResponseHeader(200, "image/JPEG", 5000));
    EXPECT_EQ(sink.All().size() - sink.writes[0].size(), 1000u);
}

TEST(FileAnswer, LargeFileGoesInPiecesAndStopsWhenTheConnectionBreaks)
{
    TempDir dir;
    const std::string path = dir.File("bg.gif", std::string(8 << 20, 'g'));
    // Each piece comes through a buffer far smaller than the file.
    static std::size_t largest;
    largest = 0;
    RecordingSink whole;
    ASSERT_TRUE(orvantis::SendFileTo(whole, wxString::FromUTF8(path.c_str()), "image/GIF", [](std::size_t n) {
        largest = std::max(largest, n);
        return std::malloc(n);
    }));
    EXPECT_LE(largest, std::size_t{1} << 20);
    EXPECT_EQ(whole.All().size() - whole.writes[0].size(), std::size_t{8} << 20);

    // A phone that went away: no more reading and writing after the loss.
    BreakingSink broken;
    broken.room = 2 << 20;
    ASSERT_TRUE(orvantis::SendFileTo(broken, wxString::FromUTF8(path.c_str()), "image/GIF"));
    EXPECT_TRUE(broken.broken);
    EXPECT_EQ(broken.calls, static_cast<int>(broken.writes.size()) + 1);
}

TEST(Location, NoWorkingDirectoryMeansNoPathAndNoMessage)
{
#ifndef _WIN32
    TempDir gone;
    const wxString before = wxGetCwd();
    ASSERT_TRUE(wxSetWorkingDirectory(wxString::FromUTF8(gone.path.c_str())));
    ASSERT_EQ(::rmdir(gone.path.c_str()), 0);
    EXPECT_EQ(orvantis::LocateInWorkingDirectory("bg.gif"), wxString());
    wxSetWorkingDirectory(before);
#endif
}

TEST(Location, BareNamesResolveInTheCurrentDirectoryLookedUpEachTime)
{
    TempDir a, b;
    const wxString before = wxGetCwd();
    ASSERT_TRUE(wxSetWorkingDirectory(wxString::FromUTF8(a.path.c_str())));
    EXPECT_EQ(orvantis::LocateInWorkingDirectory("ss.jpg"),
              wxFileName(wxString::FromUTF8(a.path.c_str()), "ss.jpg").GetFullPath());
    ASSERT_TRUE(wxSetWorkingDirectory(wxString::FromUTF8(b.path.c_str())));
    EXPECT_EQ(orvantis::LocateInWorkingDirectory("bg.gif"),
              wxFileName(wxString::FromUTF8(b.path.c_str()), "bg.gif").GetFullPath());
    wxSetWorkingDirectory(before);
}
