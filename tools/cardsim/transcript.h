// The simulated card's transcript: one text line per event, each prefixed with the seconds since
// the card started, flushed at once so that a script can follow it.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class cTranscript {
  public:
    cTranscript();
    cTranscript(const cTranscript&) = delete;
    cTranscript& operator=(const cTranscript&) = delete;
    ~cTranscript();

    // An empty path keeps standard output.
    bool Open(const std::string& path, std::string& error);
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    std::FILE* m_file;
    bool m_own = false;
    std::chrono::steady_clock::time_point m_start;
};
