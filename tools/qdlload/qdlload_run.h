// What qdlload does with its command line: one download through the same LoadToPort that the
// service calls, its outcome on the console and in the exit code.
#pragma once

#include <string>
#include <vector>

#include "qdlload_options.h"

// Exit codes.
constexpr int kQdlloadLoaded = 0;
constexpr int kQdlloadFailed = 1;
constexpr int kQdlloadUsage = 2;

// Runs one download as the options say; with a log folder the log is open for its duration.
// The host build refuses --auto (a usage error): it cannot find a card.
int RunQdlload(const QdlloadOptions& options);

// The whole program behind its entry point: the arguments behind the program name in, the
// exit code out.
int QdlloadMain(const std::vector<std::wstring>& args);
