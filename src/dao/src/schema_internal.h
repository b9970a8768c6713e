// What the schema's files share: properties kept in a table's catalog blob.
#pragma once

#include <cstdint>
#include <string>

#include "core/variant.h"
#include "jet/property_blob.h"
#include "state.h"

namespace dao::detail {

// Changes one property of an appended table's column (or of the table itself when `column`
// is empty) in the catalog's blob; a Null value removes it.
void SetStoredProperty(TableDefState& t, const std::string& column, const jet::Property* value,
                       const std::string& name);

// A property as the blob keeps it, from its DAO type and value.
jet::Property StoredProperty(const std::string& name, int type, const core::Variant& value,
                             bool ddl);

// The DAO type a stored property shows.
int DaoTypeOfProperty(std::uint8_t type);

}  // namespace dao::detail
