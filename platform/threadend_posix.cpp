#include "platform/ThreadEnd.h"

#include <pthread.h>

namespace orvantis {
namespace {

struct Pending {
    void (*fn)(void*);
    void* arg;
};

// A key's destructor runs when its thread ends, after the cancellation
// clean-up handlers that pthread_exit() runs (where a toolkit that ends its
// threads that way deletes their objects).
void RunPending(void* value)
{
    Pending* pending = static_cast<Pending*>(value);
    pending->fn(pending->arg);
    delete pending;
}

struct Key {
    pthread_key_t key{};
    bool made = pthread_key_create(&key, RunPending) == 0;
};

const Key& TheKey()
{
    static const Key key;
    return key;
}

}  // namespace

bool RunWhenThreadEnds(void (*fn)(void*), void* arg)
{
    const Key& k = TheKey();
    if (!k.made)
        return false;
    Pending* pending = new Pending{fn, arg};
    Pending* before = static_cast<Pending*>(pthread_getspecific(k.key));
    if (pthread_setspecific(k.key, pending) != 0) {
        delete pending;
        return false;
    }
    delete before;
    return true;
}

}  // namespace orvantis
