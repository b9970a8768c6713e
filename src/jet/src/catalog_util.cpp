#include "catalog_util.h"

#include <span>
#include <vector>

#include "core/datetime.h"
#include "core/encoding.h"
#include "jet/data_page.h"
#include "jet/format.h"
#include "jet/index_page.h"
#include "jet/sort_order.h"

namespace jet::catalog_util {

void FormatMapPage(std::uint8_t* page, int rows) {
  DataPage::Format(page, JetVersion::kJet4, 0);
  DataPage dp(page, JetVersion::kJet4);
  for (int r = 0; r < rows; ++r) {
    int slot;
    dp.AddRow(kMapRowLength, 0, &slot);  // type 0, start 0, empty bitmap
  }
}

void FormatEmptyLeaf(std::uint8_t* page, std::uint32_t table_page) {
  IndexPage leaf;
  leaf.leaf = true;
  leaf.table_definition = table_page;
  EncodeIndexPage(leaf, std::span<std::uint8_t>(page, index_page_layout::kPageSize));
}

double NowAsDate() {
  return core::LocalNow();
}

bool ValidObjectName(const std::string& name, std::string& why) {
  std::u16string u = core::Utf8ToUtf16(name);
  if (u.empty()) return why = "the name is empty", false;
  if (u.size() > 64) return why = "the name is longer than 64 characters", false;
  if (u[0] == u' ') return why = "the name starts with a space", false;
  for (char16_t c : u) {
    if (c < 0x20) return why = "the name contains a control character", false;
    if (c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
      return why = std::string("the name contains '") + static_cast<char>(c) + "'", false;
  }
  return true;
}

bool IndexNameLess(const std::string& a, const std::string& b) {
  std::vector<std::uint8_t> ka, kb;
  AppendGeneralTextKey(core::Utf8ToUtf16(a), false, ka);
  AppendGeneralTextKey(core::Utf8ToUtf16(b), false, kb);
  return ka < kb;
}

}  // namespace jet::catalog_util
