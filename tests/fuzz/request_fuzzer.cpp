// Fuzzes the request path: the bytes of one read in, the chosen answer and
// command out, with the answer's bytes formatted as they would be sent.
// Checks what must hold for any input: the path is a space-free token found
// after the first "GET", commands come only with their answers, and every
// answer is well formed with a content length equal to its body.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server/HttpAnswer.h"
#include "server/RequestRouter.h"

using namespace orvantis;

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class CountingSink : public ByteSink {
public:
    void Write(const void* data, std::size_t length) override { bytes.append(static_cast<const char*>(data), length); }
    std::string bytes;
};

void CheckWellFormed(const std::string& answer, int status)
{
    const std::size_t end = answer.find("\r\n\r\n");
    Check(end != std::string::npos, "header ends with an empty line");
    const std::string head = answer.substr(0, end + 4);
    const std::string prefix = "HTTP/1.1 " + std::to_string(status) + " OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: ";
    Check(head.compare(0, prefix.size(), prefix) == 0, "status line and server header");
    const std::size_t lengthAt = head.find("content-length: ");
    Check(lengthAt != std::string::npos, "content-length present");
    const long length = std::strtol(head.c_str() + lengthAt + 16, nullptr, 10);
    Check(length == static_cast<long>(answer.size() - head.size()), "content-length equals the body");
    Check(head.size() >= 19 && head.compare(head.size() - 23, 23, "\r\nConnection: close\r\n\r\n") == 0,
          "Connection: close last");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 2048)
        return 0;  // one read takes at most 2048 bytes
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string request(bytes, size);

    std::string path;
    const bool found = FindRequestPath(bytes, size, path);
    Check(found == (request.find("GET") != std::string::npos), "answered exactly when GET occurs");
    if (!found)
        return 0;
    Check(path.find(' ') == std::string::npos, "the path holds no space");
    Check(path.size() <= size, "the path fits the request");
    if (!path.empty())
        Check(request.find(path, request.find("GET")) != std::string::npos, "the path comes from the request");

    const Route route = ChooseRoute(path);
    CountingSink out;
    switch (route.answer) {
    case AnswerKind::Page: {
        Check(route.message != nullptr, "a page has its message");
        Check(route.command != Command::Screenshot, "pages take no screenshot");
        SendControlPageTo(out, route.message, 300, 225, 1765432109L);
        CheckWellFormed(out.bytes, 200);
        Check(out.bytes.find('\n', out.bytes.find("\r\n\r\n") + 4) == std::string::npos, "no line break in the page");
        break;
    }
    case AnswerKind::File:
        Check(route.fileName && route.contentType, "a file answer names its file");
        Check((route.command == Command::Screenshot) == (std::strcmp(route.fileName, "ss.jpg") == 0),
              "only the screenshot captures");
        SendResponseTo(out, 404, "text/html", route.notFoundBody, std::strlen(route.notFoundBody));
        CheckWellFormed(out.bytes, 404);
        break;
    case AnswerKind::NotFound:
        Check(route.command == Command::None, "404 carries out nothing");
        SendResponseTo(out, 404, "text/html", "", 0);
        CheckWellFormed(out.bytes, 404);
        break;
    case AnswerKind::None:
        Check(false, "a found path always gets an answer");
    }
    return 0;
}
