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
    // True once a write lost bytes: nothing more can arrive whole.
    virtual bool Broken() const { return false; }
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

// Allocation of the buffer a file is sent through; tests replace it to
// simulate a machine that is out of memory.
using FileBufferAllocator = void* (*)(std::size_t);

// A 200 answer carrying the file at `path`, announced with the file's length
// when it was opened and sent in pieces as it is read. Returns false, having
// sent nothing, when the file is missing, not a regular file, empty or
// unreadable, or its buffer cannot be allocated; the caller then sends its
// not-found answer. A file that shrinks while it is sent ends the body
// early, shorter than announced.
bool SendFileTo(ByteSink& out, const wxString& path, const std::string& contentType,
                FileBufferAllocator allocate = nullptr);

}  // namespace orvantis
