#include "platform/DesktopBackend.h"

namespace orvantis {

DesktopBackend CreateDesktopBackend(const DesktopNoticeSink&)
{
    return DesktopBackend{"windows", CreateNativeInputInjector(), CreateNativeScreenGrabber()};
}

}  // namespace orvantis
