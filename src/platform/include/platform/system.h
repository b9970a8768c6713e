// Facts about the computer the program runs on.
#pragma once

#include <string>

namespace platform {

// The computer's network name (the host name), or empty when the system does not say.
std::string ComputerName();

}  // namespace platform
