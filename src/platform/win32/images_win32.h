// The Win32 image files: CreateFileW, GetFileSizeEx, CreateFileMappingW, MapViewOfFile.
#pragma once

#include "platform/images.h"

namespace platform::win32 {

ImageFiles* NativeImageFiles();

}  // namespace platform::win32
