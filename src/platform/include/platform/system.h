// Facts about the computer the program runs on.
#pragma once

#include <string>

namespace platform {

// The computer's network name (the host name), or empty when the system does not say.
std::string ComputerName();

// The directory of the running program's executable, without a trailing separator; empty when
// the system does not say.
std::string ProgramDirectory();

// True when `path` names a file (not a directory) that exists.
bool FileExists(const std::string& path);

}  // namespace platform
