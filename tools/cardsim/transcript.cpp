#include "transcript.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

cTranscript::cTranscript() : m_file(stdout), m_start(std::chrono::steady_clock::now()) {}

cTranscript::~cTranscript() {
    if (m_own) {
        std::fclose(m_file);
    }
}

bool cTranscript::Open(const std::string& path, std::string& error) {
    if (path.empty()) {
        return true;
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    m_file = file;
    m_own = true;
    return true;
}

void cTranscript::Line(const char* format, ...) {
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    std::fprintf(m_file, "%9.3f ", elapsed.count());
    va_list args;
    va_start(args, format);
    std::vfprintf(m_file, format, args);
    va_end(args);
    std::fputc('\n', m_file);
    std::fflush(m_file);
}
