#pragma once
// Lets worker threads use an object only while it is alive.
//
// The desktop operations are reached from every connection's thread, but
// the program tears them down on the GUI thread once the user closes the
// window. A worker enters the gate before it touches the desktop and leaves
// it afterwards; at exit the gate is closed, which refuses new entries and
// waits for those inside to leave. The desktop is closed first, so workers
// still queued for their turn give it up at once, and nothing inside waits
// on the GUI thread: the wait is bounded by one desktop operation.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace orvantis {

class UseGate {
public:
    // Opens the gate on `target`; entries are refused until it is open.
    void Open(void* target);
    // Refuses new entries and waits until every entry so far has left.
    void CloseAndWait();

    // Returns the target, or null when the gate is closed. A non-null result
    // must be matched by one Leave().
    void* Enter();
    void Leave();

    bool IsOpen() const;

    // A scoped entry.
    template <class T>
    class Pass {
    public:
        explicit Pass(UseGate& gate) : m_gate(gate), m_target(static_cast<T*>(gate.Enter())) {}
        ~Pass() { if (m_target) m_gate.Leave(); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        T* get() const { return m_target; }
        T* operator->() const { return m_target; }
        explicit operator bool() const { return m_target != nullptr; }

    private:
        UseGate& m_gate;
        T* m_target;
    };

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    void* m_target = nullptr;
    std::size_t m_inside = 0;
};

// Counts the connection workers that are alive, so that the program can let
// them finish before the toolkit is torn down, and tells them when to stop.
class WorkerCount {
public:
    void Started();
    void Ended();
    std::size_t Alive() const;
    // Waits until no worker is alive or the timeout passes; true when none is.
    bool WaitForNone(std::chrono::milliseconds timeout);

    // Raised once the program closes: workers stop their transfers at once.
    void StopTransfers() { m_stop.store(true); }
    const std::atomic<bool>& StopSignal() const { return m_stop; }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_none;
    std::size_t m_alive = 0;
    std::atomic<bool> m_stop{false};
};

}  // namespace orvantis
