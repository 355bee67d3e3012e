#include "platform/LinuxBackends.h"

namespace orvantis {

std::optional<DesktopBackend> CreatePortalBackend(const DesktopNoticeSink&, std::function<DesktopBackend()>,
                                                  std::string& whyNot)
{
    whyNot = "not built";
    return std::nullopt;
}

}  // namespace orvantis
