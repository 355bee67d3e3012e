#pragma once
// The program's HTTP answers: the header format, the control page and the
// sending of whole files, written against a byte sink so that the same code
// serves a socket and the tests.

#include <cstddef>
#include <ctime>
#include <string>

#include <wx/string.h>

namespace orvantis {

// The body of the not-found answer for a screenshot that cannot be served.
extern const char* const kScreenshotNotFoundBody;  // 37 bytes

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // One write call on the connection. What is not taken is lost.
    virtual void Write(const void* data, std::size_t length) = 0;
};

// "HTTP/1.1 <status> OK\r\nserver: ...\r\ncontent-type: ...\r\ncontent-length: ...
// \r\nConnection: close\r\n\r\n". The reason phrase is "OK" for every status.
std::string FormatResponseHeader(int status, const std::string& contentType, long contentLength);

// The control page with `message` inserted unchanged (no escaping), the
// screenshot shown at width x height and fetched from "/getss<timestamp>".
// The page holds no line break.
std::string FormatControlPage(const std::string& message, int width, int height, long timestamp);

// A complete answer: the header in one write, then the body in one more
// (nothing for an empty body).
void SendResponseTo(ByteSink& out, int status, const std::string& contentType,
                    const void* body, std::size_t length);

// A page answer carrying the control page.
void SendControlPageTo(ByteSink& out, const std::string& message, int width, int height,
                       long timestamp);

// Allocation of the buffer that holds a whole file; tests replace it to
// simulate a machine that is out of memory.
using FileBufferAllocator = void* (*)(std::size_t);

// A 200 answer carrying the whole file at `path`. Returns false, having sent
// nothing, when the file cannot be opened, is empty, or its buffer cannot be
// allocated; the caller then sends its not-found answer. When fewer bytes can
// be read than the file's length said (it shrank meanwhile), the content
// length announces exactly the bytes that follow.
bool SendFileTo(ByteSink& out, const wxString& path, const std::string& contentType,
                FileBufferAllocator allocate = nullptr);

}  // namespace orvantis
