#pragma once
// One connection's worker: a detached thread that reads one request, carries
// out its command on the desktop and sends one answer, then deletes itself
// and closes the connection.

#include <cstddef>
#include <ctime>
#include <string>

#include <wx/gdicmn.h>
#include <wx/socket.h>
#include <wx/thread.h>

#include "server/HttpAnswer.h"
#include "server/UseGate.h"

namespace orvantis {
// Keeps the count of live workers from the first moment of a worker's
// construction until its thread has left the toolkit's thread code for
// good: as a base listed before wxThread it is built before the thread
// object; once the thread runs, the count is ended by the thread's own end,
// after the toolkit has deleted the object and released its own locks. So
// when the count reaches zero no worker touches the toolkit any more, and it
// may be torn down. A worker whose thread never ran ends the count when it
// is destroyed.
class WorkerLifetime {
protected:
    explicit WorkerLifetime(WorkerCount& count);
    ~WorkerLifetime();
    // Called first thing on the worker's thread.
    void EndCountWithThread();
    WorkerCount& Count() const { return m_count; }

private:
    WorkerCount& m_count;
    bool m_endsWithThread = false;
};
}  // namespace orvantis

class COrvantisReqHandler : private orvantis::WorkerLifetime, public wxThread {
public:
    // Takes ownership of `socket` and starts the thread, which reaches the
    // desktop through `gate` and is counted in `workers` while it lives.
    // When the thread cannot be created or started, the connection is
    // closed and the handler deleted at once.
    static void Start(wxSocketBase* socket, const wxSize& screenshotSize, orvantis::UseGate& gate,
                      orvantis::WorkerCount& workers);

    virtual ~COrvantisReqHandler();

protected:
    virtual ExitCode Entry() wxOVERRIDE;

private:
    COrvantisReqHandler(wxSocketBase* socket, const wxSize& screenshotSize, orvantis::UseGate& gate,
                        orvantis::WorkerCount& workers);

    void SendResponse(int status, const std::string& contentType, const void* body, std::size_t length);
    void SendControlPage(const std::string& message, std::time_t timestamp);
    bool SendFile(const wxString& fileName, const std::string& contentType);

    wxSocketBase* m_socket;
    // An answer could not be handed over whole.
    bool m_cutShort = false;
    char* m_requestBuf;
    int m_imgWidth;
    int m_imgHeight;
    orvantis::UseGate& m_gate;
};
