// How a request's bytes become a path, and a path an answer and a command.

#include <gtest/gtest.h>

#include <string>

#include "server/RequestRouter.h"

using orvantis::AnswerKind;
using orvantis::ChooseRoute;
using orvantis::Command;
using orvantis::FindRequestPath;
using orvantis::Route;

namespace {

// What the server does with a request given as raw bytes.
struct Outcome {
    bool answered;
    Route route;
};

Outcome Serve(const std::string& bytes)
{
    std::string path;
    if (!FindRequestPath(bytes.data(), bytes.size(), path))
        return {false, Route{}};
    return {true, ChooseRoute(path)};
}

std::string Get(const std::string& path)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 10.0.0.2\r\nUser-Agent: test\r\n\r\n";
}

}  // namespace

TEST(RequestPath, SecondSpaceSeparatedTokenAfterTheFirstGet)
{
    std::string path;
    ASSERT_TRUE(FindRequestPath("GET /next? HTTP/1.1\r\n", 21, path));
    EXPECT_EQ(path, "/next?");

    // Runs of spaces count as one separator, also before the first token.
    const std::string spaced = "GET  /prev?  HTTP/1.1\r\n";
    ASSERT_TRUE(FindRequestPath(spaced.data(), spaced.size(), path));
    EXPECT_EQ(path, "/prev?");

    // Only the space separates: a tab stays inside the token.
    const std::string tabbed = "GET\t/next HTTP/1.1\r\n";
    ASSERT_TRUE(FindRequestPath(tabbed.data(), tabbed.size(), path));
    EXPECT_EQ(path, "HTTP/1.1\r\n");

    // Without a version the line end belongs to the path.
    const std::string bare = "GET /\r\n\r\n";
    ASSERT_TRUE(FindRequestPath(bare.data(), bare.size(), path));
    EXPECT_EQ(path, "/\r\n\r\n");
}

TEST(RequestPath, FirstGetAnywhereIncludingAfterNulBytes)
{
    const std::string withNuls = std::string("\0\0junk\0", 7) + "GET /click? HTTP/1.1\r\n";
    std::string path;
    ASSERT_TRUE(FindRequestPath(withNuls.data(), withNuls.size(), path));
    EXPECT_EQ(path, "/click?");

    // A NUL inside the path is kept, not taken as its end.
    const std::string nulInPath = std::string("GET /ne\0xt HTTP/1.1", 19);
    ASSERT_TRUE(FindRequestPath(nulInPath.data(), nulInPath.size(), path));
    EXPECT_EQ(path, std::string("/ne\0xt", 6));

    // "GET" may stand anywhere, even inside another word.
    const std::string later = "POST /x HTTP/1.1\r\nX-Note: FORGET /next? now\r\n\r\n";
    ASSERT_TRUE(FindRequestPath(later.data(), later.size(), path));
    EXPECT_EQ(path, "/next?");

    // Bytes that are not valid text in any encoding still count.
    const std::string binary = "\xff\xfe\x80GET /prev? HTTP/1.1\r\n";
    ASSERT_TRUE(FindRequestPath(binary.data(), binary.size(), path));
    EXPECT_EQ(path, "/prev?");
}

TEST(RequestPath, NoAnswerWithoutAnUpperCaseGet)
{
    EXPECT_FALSE(Serve("HEAD / HTTP/1.1\r\n\r\n").answered);
    EXPECT_FALSE(Serve("get / HTTP/1.1\r\n\r\n").answered);
    EXPECT_FALSE(Serve("GE").answered);
    EXPECT_FALSE(Serve("POST /next HTTP/1.1\r\n\r\n").answered);
    EXPECT_FALSE(Serve(std::string("\0\0\0", 3)).answered);
}

TEST(Routes, ThePageItself)
{
    for (const std::string& request : {Get("/"), Get("/?"), Get("/?x=1"), std::string("GET"),
                                      std::string("GET   "), std::string("xxGET")}) {
        const Outcome o = Serve(request);
        ASSERT_TRUE(o.answered) << request;
        EXPECT_EQ(o.route.answer, AnswerKind::Page) << request;
        EXPECT_STREQ(o.route.message, "Welcome to Orvantis") << request;
        EXPECT_EQ(o.route.command, Command::None) << request;
    }
}

TEST(Routes, PageRulesComeBeforeAnyCommand)
{
    // "/?next" is the plain page: no key is pressed.
    const Outcome o = Serve(Get("/?next"));
    EXPECT_EQ(o.route.command, Command::None);
    EXPECT_STREQ(o.route.message, "Welcome to Orvantis");

    // Refresh only answers; the page's image asks for the screenshot.
    const Outcome refresh = Serve(Get("/refresh?"));
    EXPECT_EQ(refresh.route.command, Command::None);
    EXPECT_EQ(refresh.route.answer, AnswerKind::Page);
    EXPECT_STREQ(refresh.route.message, "Done Command: Refresh Screenshot");
}

TEST(Routes, CommandsByPrefix)
{
    struct Case {
        std::string path;
        Command command;
        const char* message;
    } cases[] = {
        {"/next?", Command::NextSlide, "Done Command: Next Slide"},
        {"/next", Command::NextSlide, "Done Command: Next Slide"},
        {"/nextpage", Command::NextSlide, "Done Command: Next Slide"},
        {"/prev?", Command::PreviousSlide, "Done Command: Previous Slide"},
        {"/previous", Command::PreviousSlide, "Done Command: Previous Slide"},
        {"/click?", Command::MouseClick, "Done Command:  Mouse Click"},
    };
    for (const Case& c : cases) {
        const Outcome o = Serve(Get(c.path));
        EXPECT_EQ(o.route.answer, AnswerKind::Page) << c.path;
        EXPECT_EQ(o.route.command, c.command) << c.path;
        EXPECT_STREQ(o.route.message, c.message) << c.path;
    }
}

TEST(Routes, LineEndGluedToThePath)
{
    // "/" followed by the line end is no longer "/", but "/next..." still is
    // a prefix match.
    EXPECT_EQ(Serve("GET /\r\n\r\n").route.answer, AnswerKind::NotFound);
    const Outcome next = Serve("GET /next\r\n\r\n");
    EXPECT_EQ(next.route.command, Command::NextSlide);
    EXPECT_EQ(next.route.answer, AnswerKind::Page);
}

TEST(Routes, FilesAndTheirNotFoundAnswers)
{
    const Outcome ss = Serve(Get("/getss1765432109"));
    EXPECT_EQ(ss.route.command, Command::Screenshot);
    EXPECT_EQ(ss.route.answer, AnswerKind::File);
    EXPECT_STREQ(ss.route.fileName, "ss.jpg");
    EXPECT_STREQ(ss.route.contentType, "image/JPEG");
    EXPECT_STREQ(ss.route.notFoundBody, "Sorry: Can't validate your request...");
    EXPECT_EQ(std::string(ss.route.notFoundBody).size(), 37u);

    const Outcome bg = Serve(Get("/bg.gif"));
    EXPECT_EQ(bg.route.command, Command::None);
    EXPECT_EQ(bg.route.answer, AnswerKind::File);
    EXPECT_STREQ(bg.route.fileName, "bg.gif");
    EXPECT_STREQ(bg.route.contentType, "image/GIF");
    EXPECT_STREQ(bg.route.notFoundBody, "");
}

TEST(Routes, EverythingElseIsNotFoundWithoutCommand)
{
    for (const char* path : {"/Next", "/NEXT?", "/favicon.ico", "/index.html", "/x", "next", "//", "/GETSS"}) {
        const Outcome o = Serve(Get(path));
        EXPECT_EQ(o.route.answer, AnswerKind::NotFound) << path;
        EXPECT_EQ(o.route.command, Command::None) << path;
    }
}
