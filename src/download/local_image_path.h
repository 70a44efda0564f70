// Whether an image path that someone else could have written is a file on a local drive. The
// service opens its images as SYSTEM: a path that reaches the network makes SYSTEM authenticate
// to a host of the writer's choosing as the computer's account, and a named pipe lets the pipe's
// server act as SYSTEM.
#pragma once

#include <string>

#include "platform/path_functions.h"

// Null for a path to a file on a local drive (fixed, removable, CD or RAM disk); otherwise why
// the path is not opened. A relative path is judged by where it leads from the current folder.
const wchar_t* NonLocalImagePath(const std::wstring& path, platform::PathFunctions& paths);
