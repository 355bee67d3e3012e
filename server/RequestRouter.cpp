#include "server/RequestRouter.h"

#include <cstring>

namespace orvantis {

namespace {

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

bool FindRequestPath(const char* data, std::size_t length, std::string& path)
{
    path.clear();
    const std::string request(data, length);
    const std::size_t get = request.find("GET");
    if (get == std::string::npos)
        return false;

    // Tokens are separated by runs of spaces; empty tokens never count.
    std::size_t pos = get;
    for (int token = 0; token < 2; ++token) {
        pos = request.find_first_not_of(' ', pos);
        if (pos == std::string::npos)
            return true;  // no second token: the path is empty
        std::size_t end = request.find(' ', pos);
        if (end == std::string::npos)
            end = request.size();
        if (token == 1)
            path.assign(request, pos, end - pos);
        pos = end;
    }
    return true;
}

Route ChooseRoute(const std::string& path)
{
    Route r;
    r.answer = AnswerKind::Page;
    r.message = "Welcome to Orvantis";

    // The page itself comes first, so "/?next" shows the page and does nothing.
    if (path == "/" || StartsWith(path, "/?"))
        return r;
    if (StartsWith(path, "/refresh")) {
        r.message = "Done Command: Refresh Screenshot";
        return r;
    }
    if (path.empty())
        return r;
    if (StartsWith(path, "/next")) {
        r.command = Command::NextSlide;
        r.message = "Done Command: Next Slide";
        return r;
    }
    if (StartsWith(path, "/prev")) {
        r.command = Command::PreviousSlide;
        r.message = "Done Command: Previous Slide";
        return r;
    }
    if (StartsWith(path, "/click")) {
        r.command = Command::MouseClick;
        r.message = "Done Command:  Mouse Click";
        return r;
    }

    r.message = nullptr;
    if (StartsWith(path, "/getss")) {
        r.answer = AnswerKind::File;
        r.command = Command::Screenshot;
        r.fileName = "ss.jpg";
        r.contentType = "image/JPEG";
        r.notFoundBody = "Sorry: Can't validate your request...";
        return r;
    }
    if (StartsWith(path, "/bg.gif")) {
        r.answer = AnswerKind::File;
        r.fileName = "bg.gif";
        r.contentType = "image/GIF";
        return r;
    }
    r.answer = AnswerKind::NotFound;
    return r;
}

}  // namespace orvantis
