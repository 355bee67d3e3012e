#include "platform/LinuxBackends.h"

namespace orvantis {

std::optional<DesktopBackend> CreateWlrootsBackend(std::string& whyNot)
{
    whyNot = "not built";
    return std::nullopt;
}

}  // namespace orvantis
