#include "platform/critical_section.h"

#include <new>

#include "platform/win32/windows_api.h"

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) <= 48 && alignof(CRITICAL_SECTION) <= 8);

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

CriticalSection::CriticalSection() {
    // Before Vista this can fail for want of memory; the section is then made without a spin
    // count, which on those systems allocates its event only when it is first contended.
    if (!InitializeCriticalSectionAndSpinCount(new (storage_) CRITICAL_SECTION, 4000)) {
        InitializeCriticalSection(Section(storage_));
    }
}

CriticalSection::~CriticalSection() {
    DeleteCriticalSection(Section(storage_));
}

void CriticalSection::Enter() {
    EnterCriticalSection(Section(storage_));
}

bool CriticalSection::TryEnter() {
    return TryEnterCriticalSection(Section(storage_)) != FALSE;
}

void CriticalSection::Leave() {
    LeaveCriticalSection(Section(storage_));
}

void YieldThread() {
    SwitchToThread();
}

}  // namespace platform
