// The values a new database takes from the one engine-made empty database we know byte
// for byte. The header date keys the password mask and travels with the security
// identifiers below: the SIDs are derived per database in a way nobody has documented,
// so a new file reuses a consistent set from a real one rather than inventing bytes.
#pragma once

#include <cstdint>

namespace jet::new_database {

// f64 creation date of the header (about 2015-11-21 22:40).
inline constexpr std::uint8_t kHeaderDate[8] = {0x3E, 0x85, 0xD3, 0x3B, 0x3E, 0xAB, 0xE4, 0x40};
// Value at header 0x6A in that file (probably the engine build).
inline constexpr std::uint16_t kEngineBuild = 0x261C;

// Security identifiers of the same file.
inline constexpr std::uint8_t kSidAdmin[2] = {0x64, 0x8B};    // the Admin user, MSysDb owner
inline constexpr std::uint8_t kSidEngine[2] = {0x65, 0x89};   // owner of containers, system tables
inline constexpr std::uint8_t kSidUsers[2] = {0x65, 0x8B};    // the Users group
inline constexpr std::uint8_t kSidCreator[2] = {0x65, 0x8E};  // "creator" in inherited ACEs

}  // namespace jet::new_database
