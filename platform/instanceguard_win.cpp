// The single-instance guard on Windows: the toolkit's checker, which holds a
// named mutex that the system releases with the process.

#include "platform/InstanceGuard.h"

#include <wx/log.h>
#include <wx/snglinst.h>

namespace orvantis {

namespace {

class MutexGuard : public InstanceGuard {
public:
    explicit MutexGuard(const wxString& name)
    {
        wxLogNull quiet;
        m_checker.Create(name);
    }
    bool AnotherIsRunning() const override { return m_checker.IsAnotherRunning(); }

private:
    wxSingleInstanceChecker m_checker;
};

}  // namespace

std::unique_ptr<InstanceGuard> TakeInstanceGuard(const wxString& name)
{
    return std::make_unique<MutexGuard>(name);
}

}  // namespace orvantis
