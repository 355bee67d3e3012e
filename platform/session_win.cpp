#include "platform/DesktopSession.h"

namespace orvantis {

bool IsWaylandSession()
{
    return false;
}

}  // namespace orvantis
