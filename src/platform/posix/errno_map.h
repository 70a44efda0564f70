// The Windows error code that matches a POSIX errno value.
#pragma once

#include "platform/types.h"

namespace platform::posix {

ErrorCode FromErrno(int error);

}  // namespace platform::posix
