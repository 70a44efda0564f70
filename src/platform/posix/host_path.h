// Where a Windows path lives on the host.
//
// Backslashes become slashes; a drive "X:" becomes the folder $DOVRAND_DRIVES/x (default
// /tmp/dovrand/drives/x), except "Z:", which is the host's root as in Wine; a path that starts
// with "/" is taken as it is. Characters are written as UTF-8.
#pragma once

#include <string>

#include "platform/utf8.h"

namespace platform::posix {

std::string HostPath(const std::wstring& windowsPath);

}  // namespace platform::posix
