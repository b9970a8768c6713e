#include "jet/header_page.h"

#include <cmath>
#include <cstring>

#include "jet/errors.h"
#include "new_database.h"

namespace jet {
namespace {

// RC4 output for the key C7 DA 39 6B: the same for every Jet file.
constexpr std::uint8_t kHeaderKeyStream[128] = {
    0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55, 0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C,
    0x7A, 0x9F, 0x90, 0xFF, 0x80, 0x9A, 0x31, 0xC5, 0x79, 0xBA, 0xED, 0x30, 0xBC, 0xDF, 0xCC, 0x9D,
    0x63, 0xD9, 0xE4, 0xC3, 0x7B, 0x42, 0xFB, 0x8A, 0xBC, 0x4E, 0x86, 0xFB, 0xEC, 0x37, 0x5D, 0x44,
    0x9C, 0xFA, 0xC6, 0x5E, 0x28, 0xE6, 0x13, 0xB6, 0x8A, 0x60, 0x54, 0x94, 0x7B, 0x36, 0xF5, 0x72,
    0xDF, 0xB1, 0x77, 0xF4, 0x13, 0x43, 0xCF, 0xAF, 0xB1, 0x33, 0x34, 0x61, 0x79, 0x5B, 0x92, 0xB5,
    0x7C, 0x2A, 0x05, 0xF1, 0x7C, 0x99, 0x01, 0x1B, 0x98, 0xFD, 0x12, 0x4F, 0x4A, 0x94, 0x6C, 0x3E,
    0x60, 0x26, 0x5F, 0x95, 0xF8, 0xD0, 0x89, 0x24, 0x85, 0x67, 0xC6, 0x1F, 0x27, 0x44, 0xD2, 0xEE,
    0xCF, 0x65, 0xED, 0xFF, 0x07, 0xC7, 0x46, 0xA1, 0x78, 0x16, 0x0C, 0xED, 0xE9, 0x2D, 0x62, 0xD4,
};

constexpr std::uint8_t kConstantTableBytes[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                                  0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                                  0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};

// The 40-byte Jet 4 password mask: the creation date truncated to an integer, as 4
// little-endian bytes repeated.
void PasswordMask(double creation_date, std::uint8_t mask[40]) {
  std::uint32_t v = 0;
  if (std::isfinite(creation_date) && creation_date > -2147483648.0 && creation_date < 2147483648.0)
    v = static_cast<std::uint32_t>(static_cast<std::int32_t>(creation_date));
  for (int i = 0; i < 40; i += 4) PutLe32(mask + i, v);
}

}  // namespace

void ToggleHeaderMask(std::uint8_t* page, JetVersion version) {
  int n = version == JetVersion::kJet3 ? HeaderLayout::kJet3MaskedLength
                                       : HeaderLayout::kJet4MaskedLength;
  for (int i = 0; i < n; ++i) page[HeaderLayout::kMaskedStart + i] ^= kHeaderKeyStream[i];
}

DatabaseHeader DecodeHeader(std::span<const std::uint8_t> raw, const std::string& file) {
  auto not_db = [&](const std::string& why) {
    ThrowJet(ErrorCode::kNotADatabase, file + ": not a Microsoft Access database (" + why + ")");
  };
  if (raw.size() < 0xA0) {
    if (raw.empty()) not_db("the file is empty");
    not_db("the file is only " + std::to_string(raw.size()) + " bytes long");
  }
  if (raw[HeaderLayout::kPageType] != 0x00 || raw[HeaderLayout::kMagic] != 0x01)
    not_db("the first page is not a database header");
  char name[16];
  std::memcpy(name, raw.data() + HeaderLayout::kEngineName, 16);
  std::string engine(name, strnlen(name, 16));
  std::uint32_t version = Le32(raw.data() + HeaderLayout::kVersion);
  if (engine == "MSISAM Database") not_db("it is a Microsoft Works database");
  if (engine == "Standard ACE DB" || (engine == "Standard Jet DB" && version >= 2))
    ThrowJet(
        ErrorCode::kUnsupportedVersion,
        file + ": an Access 2007 or later (.accdb, version " + std::to_string(version) +
            ") database; only Access 97 (Jet 3) and Access 2000-2003 (Jet 4) files are supported");
  if (engine != "Standard Jet DB") not_db("unknown engine name");
  if (version > 1)
    ThrowJet(ErrorCode::kUnsupportedVersion,
             file + ": unknown database version " + std::to_string(version));

  DatabaseHeader h;
  h.version = version == 0 ? JetVersion::kJet3 : JetVersion::kJet4;
  std::uint32_t page_size = PageSizeOf(h.version);
  if (raw.size() < page_size)
    ThrowCorrupt({.file = file, .page = 0}, "the file ends inside the header page");
  std::uint8_t page[kJet4PageSize];
  std::memcpy(page, raw.data(), page_size);
  ToggleHeaderMask(page, h.version);
  h.code_page = Le16(page + HeaderLayout::kCodePage);
  h.database_key = Le32(page + HeaderLayout::kDatabaseKey);
  if (h.version == JetVersion::kJet4) {
    h.sort_order = Le16(page + HeaderLayout::kSortOrder);
    h.sort_version = page[HeaderLayout::kSortVersion];
    h.creation_date = LeDouble(page + HeaderLayout::kCreationDate);
    std::uint8_t mask[40];
    PasswordMask(h.creation_date, mask);
    for (int i = 0; i < 40; ++i)
      if ((page[HeaderLayout::kPassword + i] ^ mask[i]) != 0) h.has_password = true;
  } else {
    h.sort_order = Le16(page + HeaderLayout::kJet3SortOrder);
    for (int i = 0; i < 20; ++i)
      if (page[HeaderLayout::kPassword + i] != 0) h.has_password = true;
  }
  if (h.has_password)
    ThrowJet(
        ErrorCode::kPasswordProtected,
        file + ": the database is protected by a password; opening such files is not supported");
  return h;
}

std::array<std::uint8_t, kJet4PageSize> NewJet4HeaderPage(SortOrder order) {
  std::array<std::uint8_t, kJet4PageSize> page{};
  std::uint8_t* p = page.data();
  p[HeaderLayout::kPageType] = 0x00;
  p[HeaderLayout::kMagic] = 0x01;
  std::memcpy(p + HeaderLayout::kEngineName, "Standard Jet DB", 16);
  PutLe32(p + HeaderLayout::kVersion, 1);
  std::memcpy(p + HeaderLayout::kConstantTable, kConstantTableBytes, sizeof kConstantTableBytes);
  PutLe16(p + HeaderLayout::kCodePage, 1252);
  PutLe32(p + HeaderLayout::kDatabaseKey, 0);
  std::memcpy(p + HeaderLayout::kCreationDate, new_database::kHeaderDate, 8);
  // An empty password is stored as the mask itself: zeros would decode to a password.
  PasswordMask(LeDouble(p + HeaderLayout::kCreationDate), p + HeaderLayout::kPassword);
  PutLe16(p + HeaderLayout::kEngineBuild, new_database::kEngineBuild);
  PutLe16(p + HeaderLayout::kSortOrder, order.locale);
  p[HeaderLayout::kSortVersion] = order.version;
  ToggleHeaderMask(p, JetVersion::kJet4);
  PutLe32(p + HeaderLayout::kPlain654, 0x654);
  std::memcpy(p + HeaderLayout::kPlainVersionText, "4.0", 4);
  // Commit slots as a closed, never-shared file shows them: 01 01, then 00 01.
  p[HeaderLayout::kJet4CommitSlots] = 0x01;
  p[HeaderLayout::kJet4CommitSlots + 1] = 0x01;
  for (int i = 1; i < 256; ++i) {
    p[HeaderLayout::kJet4CommitSlots + 2 * i] = 0x00;
    p[HeaderLayout::kJet4CommitSlots + 2 * i + 1] = 0x01;
  }
  return page;
}

}  // namespace jet
