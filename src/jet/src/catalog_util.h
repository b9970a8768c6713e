// Small pieces shared by the code that creates and changes tables: names, the empty
// structures a table starts with, and the usage-map rows a table's maps live in.
#pragma once

#include <cstdint>
#include <string>

namespace jet::catalog_util {

inline constexpr std::uint16_t kMapRowLength = 69;  // type 0, start page, 64-byte bitmap
inline constexpr int kMaxMapRowsPerPage = 57;

// A usage-map page (a data page owned by nobody) with `rows` empty inline maps.
void FormatMapPage(std::uint8_t* page, int rows);
// The root of an empty index of the table defined on `table_page`.
void FormatEmptyLeaf(std::uint8_t* page, std::uint32_t table_page);
// The local time as a Jet date.
double NowAsDate();
// Whether Jet accepts `name` for a table, column or index; `why` says why not.
bool ValidObjectName(const std::string& name, std::string& why);
// Access keeps logical indexes in the order of their names' General text keys.
bool IndexNameLess(const std::string& a, const std::string& b);

}  // namespace jet::catalog_util
