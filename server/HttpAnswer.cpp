#include "server/HttpAnswer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/Product.h"
#include "platform/ServedFile.h"

namespace orvantis {

const char* const kScreenshotNotFoundBody = "Sorry: Can't validate your request...";

namespace {

// The piece of a file read and sent at a time.
constexpr std::size_t kFileChunkBytes = 256 * 1024;

const char kHeaderFormat[] =
    "HTTP/1.1 %d OK\r\n"
    "server: Orvantis-1.0.0\r\n"
    "content-type: %s\r\n"
    "content-length: %ld\r\n"
    "Connection: close\r\n"
    "\r\n";

// The link to the maker's site near the end of the page.
const std::string kMakerSiteLink =
    std::string("<a href=\"") + kMakerSiteUrl + "\">" + kMakerSiteHost + "</a>";

struct Fragment {
    int spacesBefore;
    const char* text;
};

// The control page, one fragment per element, joined by runs of spaces and
// never by a line break. The conversions are, in order: the message (%s), the
// screenshot's width and height (%d, %d) and the time stamp (%ld).
const Fragment kPageFragments[] = {
    {0, "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">"},
    {17, "<html>"},
    {17, "<head>"},
    {17, "<style type=\"text/css\">"},
    {17, "body {"},
    {17, "font-family: Verdana, Arial, Helvetica, sans-serif;"},
    {17, "font-size: 11px;"},
    {17, "font-weight: normal;"},
    {17, "color: #000000;"},
    {17, "margin: 0px;"},
    {17, "background-attachment: fixed;"},
    {17, "background-image: url(/bg.gif);"},
    {17, "}"},
    {17, "</style>"},
    {17, "</head>"},
    {17, "<body>"},
    {17, "<div style=\"text-align: center;\">"},
    {17, "<span style=\"font-weight: bold; font-style: italic;\"><h1>Orvantis</h1></span>"},
    {33, "<p>"},
    {16, "%s"},
    {49, "<TABLE BORDER=\"0\" align = \"center\">"},
    {17, "<TR>"},
    {17, "<TD>"},
    {17, "<FORM METHOD=\"LINK\" ACTION=\"/prev\">"},
    {17, "<INPUT TYPE=\"submit\" VALUE=\"Previous Slide\">"},
    {17, "</FORM>"},
    {16, "</TD>"},
    {17, "<TD>"},
    {17, "<FORM METHOD=\"LINK\" ACTION=\"/click\">"},
    {17, "<INPUT TYPE=\"submit\" VALUE=\"Mouse Click\">"},
    {17, "</FORM>"},
    {16, "</TD>"},
    {17, "<TD>"},
    {17, "<FORM METHOD=\"LINK\" ACTION=\"/next\">"},
    {17, "<INPUT TYPE=\"submit\" VALUE=\"Next Slide\">"},
    {17, "</FORM>"},
    {16, "</TD>"},
    {17, "</TR>"},
    {17, "</TABLE>"},
    {17, "<small>Current Screenshot:</small><br/>"},
    {17, "<a href = \"/getss\"><img width=\"%d\" height=\"%d\" src=\"/getss%ld\"/></a><br/>"},
    {17, "<small>Make sure your Presentation has started so the commands would work correctly</small>"},
    {17, "<FORM METHOD=\"LINK\" ACTION=\"/refresh\">"},
    {17, "<INPUT TYPE=\"submit\" VALUE=\"Refresh Screenshot\">"},
    {17, "</FORM>"},
    {16, "</p>"},
    {33, "Orvantis v1.0.0<br/>"},
    {18, "<strong>Remote-Control Presentations on your WIFI Phone</strong><br/>"},
    {16, kMakerSiteLink.c_str()},
    {17, "</div>"},
    {17, "</body>"},
    {17, "</html>"},
};

const std::string& PageTemplate()
{
    static const std::string page = [] {
        std::string joined;
        for (const Fragment& f : kPageFragments) {
            joined.append(static_cast<size_t>(f.spacesBefore), ' ');
            joined.append(f.text);
        }
        return joined;
    }();
    return page;
}

}  // namespace

std::string FormatResponseHeader(int status, const std::string& contentType, long contentLength)
{
    const int n = std::snprintf(nullptr, 0, kHeaderFormat, status, contentType.c_str(), contentLength);
    std::string header(static_cast<size_t>(n), '\0');
    std::snprintf(&header[0], header.size() + 1, kHeaderFormat, status, contentType.c_str(),
                  contentLength);
    return header;
}

std::string FormatControlPage(const std::string& message, int width, int height, long timestamp)
{
    // Filled by hand rather than by printf: the message goes in byte for
    // byte whatever it holds, and the page is as long as it needs to be.
    const std::string& tpl = PageTemplate();
    std::string page;
    page.reserve(tpl.size() + message.size() + 32);
    int conversion = 0;
    for (size_t i = 0; i < tpl.size(); ++i) {
        if (tpl[i] != '%') {
            page.push_back(tpl[i]);
            continue;
        }
        switch (conversion++) {
        case 0: page += message; i += 1; break;                  // %s
        case 1: page += std::to_string(width); i += 1; break;    // %d
        case 2: page += std::to_string(height); i += 1; break;   // %d
        case 3: page += std::to_string(timestamp); i += 2; break;  // %ld
        default: page.push_back('%'); break;
        }
    }
    return page;
}

void SendResponseTo(ByteSink& out, int status, const std::string& contentType, const void* body,
                    std::size_t length)
{
    const std::string header = FormatResponseHeader(status, contentType, static_cast<long>(length));
    out.Write(header.data(), header.size());
    if (length > 0)
        out.Write(body, length);
}

void SendControlPageTo(ByteSink& out, const std::string& message, int width, int height,
                       long timestamp)
{
    const std::string page = FormatControlPage(message, width, height, timestamp);
    SendResponseTo(out, 200, "text/html", page.data(), page.size());
}

bool SendFileTo(ByteSink& out, const wxString& path, const std::string& contentType,
                FileBufferAllocator allocate)
{
    ServedFile file;
    if (!file.Open(path))
        return false;
    // The length is announced as a 32-bit count.
    const std::uint64_t length = file.Size();
    if (length == 0 || length > 0x7FFFFFFF)
        return false;
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, kFileChunkBytes));
    void* buffer = allocate ? allocate(chunk) : std::malloc(chunk);
    if (!buffer)
        return false;
    // The body goes out in pieces of one buffer, read from the open file as
    // it is sent: memory stays the same whatever the file's size and the
    // number of phones reading it. The first piece is read before the
    // header, so a file that cannot be read at all is still a not-found.
    long got = file.Read(buffer, chunk);
    if (got <= 0) {
        std::free(buffer);
        return false;
    }
    const std::string header = FormatResponseHeader(200, contentType, static_cast<long>(length));
    out.Write(header.data(), header.size());
    std::uint64_t left = length;
    // A file that shrank since it was opened ends the body early: the phone
    // gets fewer bytes than announced and so knows the answer is not whole.
    while (got > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(got), left));
        out.Write(buffer, n);
        left -= n;
        if (left == 0 || out.Broken())
            break;
        got = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk)));
    }
    std::free(buffer);
    return true;
}

}  // namespace orvantis
