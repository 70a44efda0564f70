// The host's image files: open, lseek, mmap, with Windows error codes.
#pragma once

#include "platform/images.h"

namespace platform::posix {

ImageFiles* NativeImageFiles();

}  // namespace platform::posix
