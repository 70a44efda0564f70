// Joining a folder and a name the way PathCombineW does for the paths this system builds.
#pragma once

#include <string>

namespace platform {

// An empty folder gives the name; a name that is absolute (starts with a backslash or a drive
// such as "C:") gives the name; otherwise folder, one backslash, name. False when the result
// would not fit a path buffer (more than 259 characters).
bool CombinePaths(const std::wstring& directory, const std::wstring& name, std::wstring* path);

}  // namespace platform
