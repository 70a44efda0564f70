#include "pty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool MakeFolders(const std::string& path, std::string& error) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') {
            continue;
        }
        std::string prefix = path.substr(0, at);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = SystemError("cannot make folder " + prefix);
            return false;
        }
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

cPty::~cPty() {
    Close();
}

void cPty::Close() {
    if (!m_link.empty()) {
        char target[4096];
        ssize_t n = readlink(m_link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == m_slavePath) {
            unlink(m_link.c_str());
        }
        m_link.clear();
    }
    if (m_slave >= 0) {
        close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

bool cPty::Open(std::string& error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        error = SystemError("posix_openpt");
        return false;
    }
    char name[256];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        error = SystemError("cannot unlock the pty");
        return false;
    }
    m_slavePath = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        error = SystemError("cannot open " + m_slavePath);
        return false;
    }
    termios mode{};
    if (tcgetattr(m_slave, &mode) != 0) {
        error = SystemError("tcgetattr");
        return false;
    }
    cfmakeraw(&mode);
    cfsetispeed(&mode, B115200);
    cfsetospeed(&mode, B115200);
    if (tcsetattr(m_slave, TCSANOW, &mode) != 0) {
        error = SystemError("tcsetattr");
        return false;
    }
    return true;
}

bool cPty::Link(const std::string& link, std::string& error) {
    size_t slash = link.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(link.substr(0, slash), error)) {
        return false;
    }
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = link + " is a folder";
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            error = SystemError("cannot replace " + link);
            return false;
        }
    }
    if (symlink(m_slavePath.c_str(), link.c_str()) != 0) {
        error = SystemError("cannot make the link " + link);
        return false;
    }
    m_link = link;
    return true;
}
