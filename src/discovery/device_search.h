// Finding a present catalogue card among the system's COM-port device interfaces.
#pragma once

#include "discovery/device_match.h"

// Walks the present COM-port interfaces in the system's order and matches the path of each
// active one against the catalogue; stops at the first match, in either mode, which the record
// then holds. False when none matches or the enumeration cannot start.
bool FindGobiDevice(DeviceMatch& match);
