// What the file system implementations share: how they word an operating-system failure.
#pragma once

#include <cstdint>
#include <string>

namespace core::file_detail {

// "PATH: cannot ACTION: REASON", REASON being the C library's text for errno `error`.
[[noreturn]] void ThrowOs(const std::string& path, const char* action, int error);
// "PATH: read error at offset N: REASON".
[[noreturn]] void ThrowReadError(const std::string& path, std::uint64_t offset, int error);

}  // namespace core::file_detail
