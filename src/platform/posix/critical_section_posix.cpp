#include "platform/critical_section.h"

#include <pthread.h>
#include <sched.h>

#include <new>

namespace platform {

static_assert(sizeof(pthread_mutex_t) <= 48 && alignof(pthread_mutex_t) <= 8);

namespace {
pthread_mutex_t* Mutex(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

// Recursive, as a critical section is.
CriticalSection::CriticalSection() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

CriticalSection::~CriticalSection() {
    pthread_mutex_destroy(Mutex(storage_));
}

void CriticalSection::Enter() {
    pthread_mutex_lock(Mutex(storage_));
}

bool CriticalSection::TryEnter() {
    return pthread_mutex_trylock(Mutex(storage_)) == 0;
}

void CriticalSection::Leave() {
    pthread_mutex_unlock(Mutex(storage_));
}

void YieldThread() {
    sched_yield();
}

}  // namespace platform
