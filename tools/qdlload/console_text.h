// Console output of qdlload: wide text written as UTF-8 bytes, the same in both builds, so
// that what a console or a pipe receives does not depend on a code page.
#pragma once

#include <cstdio>
#include <string>

// Writes the text as UTF-8 to the stream and flushes it.
void WriteText(FILE* stream, const std::wstring& text);
