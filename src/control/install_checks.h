// Whether someone other than an administrator can change what an installed service would run
// or where it would write: decided on the owners and DACLs of the file and of every folder
// above it, and on the kind of drive they are on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/descriptor.h"

namespace install_checks {

// What an object is to the service, and so which rights of another account matter.
enum class Role {
    kProgram,  // the program file: write, append, delete, permissions, owner
    kFolder,   // the folder that holds it (or the log): add a file, delete a file, delete it,
               // permissions, owner
    kAbove,    // a folder above that one: delete a file, delete it, permissions, owner
};

// The accounts that count as administrators besides SYSTEM, Administrators and
// TrustedInstaller.
struct Caller {
    std::optional<descriptor::Sid> user;       // the account running the command
    bool powerUsersAreAdministrators = false;  // Windows XP and Server 2003
};

// Why an account other than the administrators can change the object in that role, for
// example "Authenticated Users may delete it"; empty when none can.
std::wstring WhoCanChange(const std::vector<uint8_t>& bytes, Role role, const Caller& caller);

struct Verdict {
    bool refused = false;
    std::wstring path;    // the file or folder that decided
    std::wstring reason;  // what about it, as WhoCanChange says or "it is on a network drive"
};

// The program file, its folder and every folder above it up to the drive's root; a program
// not on a local fixed drive is refused.
Verdict CheckProgram(const std::wstring& program);
// A folder that the service writes into (an absolute path with a drive letter), and every
// folder above it up to the drive's root.
Verdict CheckFolder(const std::wstring& folder);

}  // namespace install_checks
