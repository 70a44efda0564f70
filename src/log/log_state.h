// State shared by the log's translation units.
#pragma once

#include <atomic>
#include <cstdint>

namespace log_detail {

// The log enabled flag of the start-key state.
extern std::atomic<int32_t> g_enabled;

}  // namespace log_detail
