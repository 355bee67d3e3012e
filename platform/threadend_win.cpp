#include "platform/ThreadEnd.h"

#include <windows.h>

namespace orvantis {
namespace {

struct Pending {
    void (*fn)(void*);
    void* arg;
};

// A fiber-local slot's callback runs when its thread ends, after the
// thread's start routine (the toolkit's included) has returned. (MinGW's
// thread_local destructors are no substitute: they may run after the
// thread's emulated TLS block is freed, and write into the heap.)
void WINAPI RunPending(void* value)
{
    if (!value)
        return;
    Pending* pending = static_cast<Pending*>(value);
    pending->fn(pending->arg);
    delete pending;
}

DWORD Slot()
{
    static const DWORD slot = FlsAlloc(RunPending);
    return slot;
}

}  // namespace

bool RunWhenThreadEnds(void (*fn)(void*), void* arg)
{
    if (Slot() == FLS_OUT_OF_INDEXES)
        return false;
    Pending* pending = new Pending{fn, arg};
    Pending* before = static_cast<Pending*>(FlsGetValue(Slot()));
    if (!FlsSetValue(Slot(), pending)) {
        delete pending;
        return false;
    }
    delete before;
    return true;
}

}  // namespace orvantis
