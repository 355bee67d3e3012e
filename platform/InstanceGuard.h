#pragma once
// One running copy of the program per user: the first copy holds a guard
// under a name of the user's own, and a later start finds it held.

#include <memory>
#include <wx/string.h>

namespace orvantis {

class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
    // True when another copy holds the guard; this one then holds nothing.
    virtual bool AnotherIsRunning() const = 0;
};

// Takes the guard named `name` ("MyApp-<user>"), held until the object is
// destroyed or the process ends, however it ends. On Windows it is a named
// mutex; elsewhere a lock held on a file of that name in the user's home
// folder. Never shows a message.
std::unique_ptr<InstanceGuard> TakeInstanceGuard(const wxString& name);

}  // namespace orvantis
