// The product's own locks: a critical section with a spin count on Windows, a mutex on the host.
// Unlike the locks of the Sync seam it is never faked and cannot fail, so that process-wide and
// per-object state (the current port, the service status, the remembered device) can be guarded
// from construction on. It is the platform's lock, not the C++ runtime's: the Windows product's
// runtime has no std::mutex, and nothing in it may need more than Windows XP SP3 provides.
#pragma once

#include "platform/sync.h"

namespace platform {

class CriticalSection final : public Lock {
  public:
    CriticalSection();  // InitializeCriticalSectionAndSpinCount, 4000 spins
    ~CriticalSection() override;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() override;
    bool TryEnter() override;
    void Leave() override;

  private:
    // A CRITICAL_SECTION (24 or 40 bytes) or a pthread_mutex_t (24 or 40 bytes), in place.
    alignas(8) unsigned char storage_[48];
};

// Gives up the rest of the thread's time slice (SwitchToThread; sched_yield on the host).
void YieldThread();

}  // namespace platform
