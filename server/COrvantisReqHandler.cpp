#include "server/COrvantisReqHandler.h"

#include <cstdlib>
#include <cstring>

#include "control/DesktopController.h"
#include "platform/InputInjector.h"
#include "platform/SocketIo.h"
#include "platform/ThreadEnd.h"
#include "platform/WorkingDirectory.h"
#include "server/RequestRouter.h"

namespace {

constexpr std::size_t kRequestBufferBytes = 2048;
// Every wait on a connection, for its request or for the peer to take the
// answer, ends after this long.
constexpr int kConnectionTimeoutMs = 2000;

class SocketSink : public orvantis::ByteSink {
public:
    SocketSink(wxSocketBase& socket, const orvantis::TransferStop& stop, bool& cutShort)
        : m_socket(socket), m_stop(stop), m_cutShort(cutShort)
    {
    }
    void Write(const void* data, std::size_t length) override
    {
        // Once an answer is cut short, the rest of it is not sent.
        if (!m_cutShort && orvantis::SendAll(m_socket, data, length, kConnectionTimeoutMs, &m_stop) < length)
            m_cutShort = true;
    }
    bool Broken() const override { return m_cutShort; }

private:
    wxSocketBase& m_socket;
    const orvantis::TransferStop& m_stop;
    bool& m_cutShort;
};

void EndCount(void* count)
{
    static_cast<orvantis::WorkerCount*>(count)->Ended();
}

}  // namespace

namespace orvantis {
WorkerLifetime::WorkerLifetime(WorkerCount& count) : m_count(count) { m_count.Started(); }

WorkerLifetime::~WorkerLifetime()
{
    if (!m_endsWithThread)
        m_count.Ended();
}

void WorkerLifetime::EndCountWithThread()
{
    // The count then ends after the toolkit's frames are gone (on POSIX even
    // when the toolkit ends the thread with pthread_exit()).
    m_endsWithThread = RunWhenThreadEnds(EndCount, &m_count);
}
}  // namespace orvantis

void COrvantisReqHandler::Start(wxSocketBase* socket, const wxSize& screenshotSize, orvantis::UseGate& gate,
                                orvantis::WorkerCount& workers)
{
    COrvantisReqHandler* handler = new COrvantisReqHandler(socket, screenshotSize, gate, workers);
    // All fields are set before Create: the thread may start at once.
    if (handler->Create(0) != wxTHREAD_NO_ERROR || handler->Run() != wxTHREAD_NO_ERROR) {
        // The thread never ran, so nothing else will delete the handler; its
        // destructor closes the connection.
        delete handler;
    }
}

COrvantisReqHandler::COrvantisReqHandler(wxSocketBase* socket, const wxSize& screenshotSize,
                                         orvantis::UseGate& gate, orvantis::WorkerCount& workers)
    : WorkerLifetime(workers),
      wxThread(wxTHREAD_DETACHED),
      m_socket(socket),
      m_requestBuf(static_cast<char*>(std::malloc(kRequestBufferBytes))),
      m_imgWidth(screenshotSize.GetWidth()),
      m_imgHeight(screenshotSize.GetHeight()),
      m_gate(gate)
{
}

COrvantisReqHandler::~COrvantisReqHandler()
{
    if (m_requestBuf)
        std::free(m_requestBuf);
    if (m_socket) {
        // An answer cut short, or one abandoned because the program closes,
        // ends with a reset: the phone then reports an error instead of
        // showing a picture that looks whole but is not.
        if (m_cutShort || Count().StopSignal().load())
            orvantis::ResetOnClose(*m_socket);
        // The connection was accepted with wxSOCKET_BLOCK and never reports
        // events, so no GUI-thread code refers to it: Destroy() shuts it down
        // and, outside the main thread, deletes it right here, without
        // touching the toolkit's deferred-deletion list.
        m_socket->Destroy();
    }
}

wxThread::ExitCode COrvantisReqHandler::Entry()
{
    EndCountWithThread();
    if (!m_requestBuf || !m_gate.IsOpen())
        return 0;

    const std::size_t n = orvantis::ReceiveOnce(*m_socket, m_requestBuf, kRequestBufferBytes,
                                                kConnectionTimeoutMs, &Count().StopSignal());
    if (n < 1 || n > kRequestBufferBytes)
        return 0;

    std::string path;
    if (!orvantis::FindRequestPath(m_requestBuf, n, path))
        return 0;
    const std::time_t timestamp = std::time(nullptr);
    const orvantis::Route route = orvantis::ChooseRoute(path);

    orvantis::CaptureBytes capture;
    if (route.command != orvantis::Command::None) {
        // The program may be closing: then the command is dropped and no
        // answer is sent, as for a request that came too late. The same
        // holds for a command still waiting for its turn when closing began.
        orvantis::UseGate::Pass<orvantis::DesktopOperations> desktop(m_gate);
        if (!desktop)
            return 0;
        bool done = false;
        switch (route.command) {
        case orvantis::Command::NextSlide: done = desktop->SendKeyPress(orvantis::VKEY_NEXT, 0); break;
        case orvantis::Command::PreviousSlide: done = desktop->SendKeyPress(orvantis::VKEY_PRIOR, 0); break;
        case orvantis::Command::MouseClick: done = desktop->SendMouseClick(); break;
        case orvantis::Command::Screenshot: done = desktop->TakeScreenshot(&capture); break;
        case orvantis::Command::None: break;
        }
        // Closing began while the command waited for its turn, or the
        // desktop could not take it: no answer, as for a command that
        // could not run.
        if (!done)
            return 0;
    }

    switch (route.answer) {
    case orvantis::AnswerKind::None:
        break;
    case orvantis::AnswerKind::Page:
        SendControlPage(route.message, timestamp);
        break;
    case orvantis::AnswerKind::File: {
        bool sent = false;
        if (!capture.Empty()) {
            // The bytes of this request's own capture, never a file that
            // another request's capture may be rewriting meanwhile.
            SendResponse(200, route.contentType, capture.Bytes().data(), capture.Bytes().size());
            sent = true;
        } else {
            sent = SendFile(wxString::FromUTF8(route.fileName), route.contentType);
        }
        if (!sent)
            SendResponse(404, "text/html", route.notFoundBody, std::strlen(route.notFoundBody));
        break;
    }
    case orvantis::AnswerKind::NotFound:
        SendResponse(404, "text/html", "", 0);
        break;
    }
    return 0;
}

void COrvantisReqHandler::SendResponse(int status, const std::string& contentType, const void* body,
                                       std::size_t length)
{
    SocketSink sink(*m_socket, Count().StopSignal(), m_cutShort);
    orvantis::SendResponseTo(sink, status, contentType, body, length);
}

void COrvantisReqHandler::SendControlPage(const std::string& message, std::time_t timestamp)
{
    SocketSink sink(*m_socket, Count().StopSignal(), m_cutShort);
    orvantis::SendControlPageTo(sink, message, m_imgWidth, m_imgHeight, static_cast<long>(timestamp));
}

bool COrvantisReqHandler::SendFile(const wxString& fileName, const std::string& contentType)
{
    SocketSink sink(*m_socket, Count().StopSignal(), m_cutShort);
    return orvantis::SendFileTo(sink, orvantis::LocateInWorkingDirectory(fileName), contentType);
}
