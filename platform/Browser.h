#pragma once
#include <string>

namespace orvantis {

// Opens `url` in the user's default web browser. Nothing is reported when no
// browser opens.
void OpenInDefaultBrowser(const std::string& url);

}  // namespace orvantis
