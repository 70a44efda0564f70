// Console output of qdlload. In the Windows build it goes through the platform's console, which
// shows every character on a console (WriteConsoleW) and writes UTF-8 with CR LF to a pipe or a
// file; on the host it is written as UTF-8 bytes.
#pragma once

#include <cstdio>
#include <string>

// Writes the text to the stream (stdout or stderr) at once.
void WriteText(FILE* stream, const std::wstring& text);
