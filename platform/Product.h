#pragma once
// Facts about the product that several parts of the program use.

namespace orvantis {

// The maker's web site, linked from the control page and the About box.
inline constexpr const char* kMakerSiteUrl = "http://www.orvantis.com/";
inline constexpr const char* kMakerSiteHost = "www.orvantis.com";
// The product's own page, opened from the "Help" menu.
inline constexpr const char* kProductPageUrl = "http://www.orvantis.com/remote-control/";

// The program as a firewall lists it, which the main window's note names:
// the executable on Windows, the command on Linux.
#ifdef _WIN32
inline constexpr const char* kProgramFileName = "Orvantis.exe";
#else
inline constexpr const char* kProgramFileName = "orvantis";
#endif

}  // namespace orvantis
