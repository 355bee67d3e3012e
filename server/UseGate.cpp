#include "server/UseGate.h"

namespace orvantis {

void UseGate::Open(void* target)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_target = target;
}

void UseGate::CloseAndWait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_target = nullptr;
    m_idle.wait(lock, [this] { return m_inside == 0; });
}

void* UseGate::Enter()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_target)
        ++m_inside;
    return m_target;
}

void UseGate::Leave()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_inside > 0 && --m_inside == 0)
        m_idle.notify_all();
}

bool UseGate::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_target != nullptr;
}

void WorkerCount::Started()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_alive;
}

void WorkerCount::Ended()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_alive > 0 && --m_alive == 0)
        m_none.notify_all();
}

std::size_t WorkerCount::Alive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_alive;
}

bool WorkerCount::WaitForNone(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_none.wait_for(lock, timeout, [this] { return m_alive == 0; });
}

}  // namespace orvantis
