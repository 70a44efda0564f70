#include "platform/platform.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<const Platform*> g_installed{nullptr};
}

const Platform& Get() {
    const Platform* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : Native();
}

ScopedPlatform::ScopedPlatform(const Platform& platform)
    : previous_(g_installed.load()), platform_(platform) {
    g_installed.store(&platform_, std::memory_order_release);
}

ScopedPlatform::~ScopedPlatform() {
    g_installed.store(previous_, std::memory_order_release);
}

}  // namespace platform
