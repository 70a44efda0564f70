// The pty the simulated card sits on: the card reads and writes the master; the host opens the
// slave, through its path or a symlink to it. The card keeps the slave open itself, so the
// line does not hang up between two opens by the host.
#pragma once

#include <string>

class cPty {
  public:
    cPty() = default;
    cPty(const cPty&) = delete;
    cPty& operator=(const cPty&) = delete;
    ~cPty();

    // Opens a master/slave pair with the slave in raw mode. False with the reason in error.
    bool Open(std::string& error);
    // Makes link a symlink to the slave, creating its parent folders and replacing an earlier
    // symlink or file there. Removed again by the destructor while it still points here.
    bool Link(const std::string& link, std::string& error);

    // Closes both ends and removes the link: the line is gone for the host.
    void Close();

    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_link;
};

// mkdir -p; false with the reason in error.
bool MakeFolders(const std::string& path, std::string& error);
