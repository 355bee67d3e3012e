#pragma once
// Reading a browser's request and choosing what to do about it.
//
// Only what the control page and a browser ask for is understood: the page,
// four commands, the screenshot and the page's background. The HTTP version,
// the headers, any body and the query string are not looked at, and the path
// is not decoded.

#include <cstddef>
#include <string>

namespace orvantis {

enum class Command {
    None,
    NextSlide,      // Page Down
    PreviousSlide,  // Page Up
    MouseClick,     // primary button at the pointer
    Screenshot,     // capture the primary display
};

enum class AnswerKind {
    None,      // close the connection without answering
    Page,      // the control page with `message`
    File,      // the file `fileName` as `contentType`, else 404 with `notFoundBody`
    NotFound,  // 404 with an empty body
};

struct Route {
    AnswerKind answer = AnswerKind::None;
    Command command = Command::None;
    const char* message = nullptr;
    const char* fileName = nullptr;
    const char* contentType = nullptr;
    const char* notFoundBody = "";
};

// Finds the path in the bytes of a request: the first "GET" anywhere
// (case-sensitive), then the second of the tokens that follow from there,
// split on spaces only (carriage return, line feed and tab belong to the
// tokens; runs of spaces count as one). Returns false when there is no "GET";
// the path is empty when there is no second token. Bytes of any value, NUL
// included, count like any other.
bool FindRequestPath(const char* data, std::size_t length, std::string& path);

// The first rule that fits the path, with the command it carries out first.
Route ChooseRoute(const std::string& path);

}  // namespace orvantis
