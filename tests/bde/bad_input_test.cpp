// Damaged and hostile files: every one gives an error naming the file (and, for a value,
// the record and field), or every complete record and a warning; never a crash or a hang.
#include <dirent.h>

#include <functional>

#include "../../fuzz/bde/harness.h"
#include "bde/dbf_format.h"
#include "bde/paradox_format.h"
#include "support.h"

namespace bde_test {
namespace {

using Patch = std::function<void(std::string&)>;

void Put16(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
unsigned Load16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Copies a fixture and its companions into memory under "t/", patched.
struct Damaged {
  core::MemoryFileSystem fs;
  std::string path;
  Damaged(const std::string& relative, const Patch& patch,
          const std::vector<std::string>& companions = {}, const Patch& companion_patch = {}) {
    path = "t/" + core::FileNameOf(relative);
    std::string bytes = ReadBytes(Data(relative));
    if (patch) patch(bytes);
    fs.SetContents(path, bytes);
    for (const std::string& c : companions) {
      std::string more = ReadBytes(Data(c));
      if (companion_patch) companion_patch(more);
      fs.SetContents("t/" + core::FileNameOf(c), more);
    }
  }
  std::unique_ptr<bde::SourceReader> Open() { return bde::OpenSourceTable(path, {}, fs); }
  // Reads every record and value; returns the first error's message ("" when none).
  std::string ReadAll(int* records = nullptr) {
    return ErrorOf([&] {
      auto r = Open();
      int n = 0;
      while (r->Next()) {
        ++n;
        for (int i = 0; i < static_cast<int>(r->Fields().size()); ++i) r->Value(i);
      }
      if (records) *records = n;
      warnings = r->Warnings();
    });
  }
  std::vector<std::string> warnings;
};

struct ErrorCase {
  const char* what;
  const char* file;
  Patch patch;
  const char* message;  // part of the error text
  std::vector<std::string> companions = {};
  Patch companion_patch = {};
};

TEST(BadInput, HeadersAndDescriptorsAreRefusedAtOpen) {
  namespace h = bde::dbf::header;
  namespace ph = bde::px::header;
  const ErrorCase cases[] = {
      {"truncated dBase header", "dbase/dbfread/people.dbf", [](std::string& s) { s.resize(20); },
       "too short for a dBase header"},
      {"header length past the end", "dbase/dbfread/people.dbf",
       [](std::string& s) { Put16(s, h::kHeaderLength, 5000); }, "runs past the end of the file"},
      {"descriptors past the header", "dbase/dbfread/people.dbf",
       [](std::string& s) { Put16(s, h::kHeaderLength, 64); }, "field lengths add up to 17"},
      {"record length 0", "dbase/dbfread/people.dbf",
       [](std::string& s) { Put16(s, h::kRecordLength, 0); }, "record length is 0"},
      {"unknown field type", "dbase/dbfread/people.dbf",
       [](std::string& s) { s[32 + bde::dbf::field::kType] = 'Z'; },
       "field NAME has the unknown type \"Z\""},
      {"unknown version byte", "dbase/dbfread/people.dbf", [](std::string& s) { s[0] = '\x99'; },
       "unknown version byte 0x99"},
      {"SIx encryption", "dbase/dbfread/people.dbf", [](std::string& s) { s[0] = '\x86'; },
       "encrypted"},
      {"dBase IV PROTECT", "dbase/dbfread/people.dbf", [](std::string& s) { s[h::kEncrypted] = 1; },
       "encrypted"},
      {"dBase II", "dbase/infused-dbf/dbase_02.dbf", nullptr, "dBase II tables are not supported"},
      {"date field of the wrong width", "dbase/dbfread/people.dbf",
       [](std::string& s) {
         s[64 + bde::dbf::field::kLength] =
             7;  // BIRTHDATE D(7); NAME grows to keep the record length
         s[32 + bde::dbf::field::kLength] = 17;
       },
       "has length 7 instead of 8"},
      {"missing dBase III memo file", "dbase/infused-dbf/dbase_83_missing_memo.dbf", nullptr,
       "dbase_83_missing_memo.dbt is missing"},
      {"missing FoxPro memo file", "foxpro/dbfread/no_memofile.dbf", nullptr,
       "no_memofile.fpt is missing"},
      {"missing dBase 7 memo file", "dbase/infused-dbf/dbase_8c.dbf", nullptr,
       "dbase_8c.dbt is missing"},
      {"memo file shorter than its header",
       "foxpro/dbfread/memotest.dbf",
       nullptr,
       "too short for its header",
       {"foxpro/dbfread/memotest.FPT"},
       [](std::string& s) { s.resize(100); }},
      {"truncated Paradox header", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s.resize(40); }, "too short for a Paradox header"},
      {"primary index given as a table", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s[ph::kFileType] = 1; }, "primary index"},
      {"unknown Paradox version", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s[ph::kFileVersion] = 99; }, "unknown Paradox file version 99"},
      {"Paradox block size code", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s[ph::kBlockSizeCode] = 0; }, "invalid block size code 0"},
      {"Paradox record size", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { Put16(s, ph::kRecordSize, 9); }, "field sizes add up to 8"},
      {"Paradox header size", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { Put16(s, ph::kHeaderSize, 60000); }, "invalid header size 60000"},
      {"Paradox field list past the header", "paradox/paradoxReader/PCLDATA/PAGESIZE.DB",
       [](std::string& s) { Put16(s, ph::kFieldCount, 200); },
       "the header ends inside the field list"},
      {"unknown Paradox field type", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s[ph::kExtendedSize + 2] = 0x07; }, "unknown type code 0x07"},
  };
  for (const ErrorCase& c : cases) {
    Damaged d(c.file, c.patch, c.companions, c.companion_patch);
    std::string e = ErrorOf([&] { d.Open(); });
    // The table's name, or its memo file's when that is the broken one.
    EXPECT_NE(e.find(d.path.substr(0, d.path.rfind('.'))), std::string::npos)
        << c.what << ": " << e;
    EXPECT_NE(e.find(c.message), std::string::npos) << c.what << ": " << e;
  }
}

TEST(BadInput, ValuesAndMemosFailForTheirFieldOnly) {
  const ErrorCase cases[] = {
      {"invalid date text", "dbase/dbfread/invalid_value.dbf", nullptr,
       "record 1, field BIRTHDATE: invalid date \"NotAYear\""},
      {"invalid number",
       "synthetic/types4.dbf",
       [](std::string& s) { s.replace(s.find("-999"), 4, "9x99"); },
       "record 1, field S4: invalid number",
       {"synthetic/types4.dbt"}},
      {"invalid logical",
       "dbase/infused-dbf/dbase_8b.dbf",
       // Record 1 starts at the header length; LOGICAL follows C(100), N(20,2) and D.
       [](std::string& s) {
         s[Load16(s, bde::dbf::header::kHeaderLength) + 1 + 100 + 20 + 8] = 'X';
       },
       "record 1, field LOGICAL: invalid logical value",
       {"dbase/infused-dbf/dbase_8b.dbt"}},
      {"memo block past the memo file",
       "synthetic/memo3.dbf",
       [](std::string& s) { s.replace(s.find("         1"), 10, "      9999"); },
       "record 1, field M: memo block 9999 in memo3.dbt: lies past the end",
       {"synthetic/memo3.dbt"}},
      {"dBase IV memo longer than the file",
       "synthetic/types4.dbf",
       nullptr,
       "record 1, field MEMO: memo block 1 in types4.dbt: claims",
       {"synthetic/types4.dbt"},
       [](std::string& s) { Put32(s, 512 + 4, 0x7FFFFFF0u); }},
      {"dBase III memo without end mark",
       "synthetic/memo3.dbf",
       nullptr,
       "has no end mark",
       {"synthetic/memo3.dbt"},
       [](std::string& s) { s.resize(1200); }},
      {"FoxPro memo past the memo file",
       "foxpro/dbfread/memotest.dbf",
       // Record 1 starts at the header length; the 4-byte pointer follows C(16) and D.
       [](std::string& s) {
         Put32(s, Load16(s, bde::dbf::header::kHeaderLength) + 1 + 16 + 8, 77);
       },
       "record 1, field MEMO: memo block 77 in memotest.FPT: lies past the end",
       {"foxpro/dbfread/memotest.FPT"}},
      {"VFP varchar length beyond the field", "foxpro/infused-dbf/dbase_32.dbf",
       // NAME V(250) keeps its length in its last byte.
       [](std::string& s) {
         s[Load16(s, bde::dbf::header::kHeaderLength) + 250] = static_cast<char>(250);
       },
       "record 1, field NAME: the stored length 250 exceeds the field length 249"},
      {"Paradox blob past the blob file",
       "paradox/paradoxdriver/fields/memo.db",
       nullptr,
       "record 1, field MEMO: blob at offset 4096 of memo.mb: lies past the end",
       {"paradox/paradoxdriver/fields/memo.mb"},
       [](std::string& s) { s.resize(4096); }},
      {"Paradox blob of another length",
       "paradox/paradoxdriver/fields/memo.db",
       [](std::string& s) { Put32(s, 2048 + 6 + 4 + 250 - 6, 556); },
       "holds 555 bytes but the record says 556",
       {"paradox/paradoxdriver/fields/memo.mb"}},
      {"Paradox logical byte", "paradox/paradoxdriver/fields/logical.db",
       [](std::string& s) { s[2048 + 6] = 0x33; },
       "record 1, field BOOL: invalid logical value 0x33"},
  };
  for (const ErrorCase& c : cases) {
    Damaged d(c.file, c.patch, c.companions, c.companion_patch);
    std::string e = d.ReadAll();
    EXPECT_NE(e.find(d.path), std::string::npos) << c.what << ": " << e;
    EXPECT_NE(e.find(c.message), std::string::npos) << c.what << ": " << e;
  }
}

TEST(BadInput, ShortDataGiveEveryCompleteRecordAndAWarning) {
  struct Case {
    const char* what;
    const char* file;
    Patch patch;
    int records;
    const char* warning;
  };
  namespace h = bde::dbf::header;
  const Case cases[] = {
      {"count beyond the data", "dbase/dbfread/people.dbf",
       [](std::string& s) { Put32(s, h::kRecordCount, 1000); }, 2,
       "announces 1000 records but the file holds only 3"},
      {"file cut inside a record", "dbase/deb-r-cran-spdata/world.dbf",
       [](std::string& s) { s.resize(s.size() - 300); }, 176, "holds only 176 complete ones"},
      {"end mark where the last record should be", "dbase/dbfread/people.dbf",
       [](std::string& s) { s[97 + 50] = 0x1A; }, 2, "end-of-file mark stands where record 3"},
      {"end mark before records without flags", "dbase/dbfread/people.dbf",
       [](std::string& s) {
         s[97 + 25] = 0x1A;
         s[97 + 50] = 'x';
       },
       1, "end-of-file mark stands where record 2"},
      {"Paradox chain past the end", "paradox/paradoxdriver/areas/STATES.DB",
       [](std::string& s) { Put16(s, 221 + bde::px::block::kNext, 50); }, 24,
       "continues to block 50"},
      {"Paradox file cut inside a block", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { s.resize(2048 + 6 + 8 * 2 + 3); }, 2, "the file ends inside block 1"},
      {"Paradox count too high", "paradox/paradoxdriver/fields/long.db",
       [](std::string& s) { Put32(s, bde::px::header::kRecordCount, 7); }, 3,
       "announces 7 records but the table holds 3"},
  };
  for (const Case& c : cases) {
    Damaged d(c.file, c.patch);
    int records = -1;
    EXPECT_EQ(d.ReadAll(&records), "") << c.what;
    EXPECT_EQ(records, c.records) << c.what;
    ASSERT_FALSE(d.warnings.empty()) << c.what;
    EXPECT_NE(d.warnings.front().find(d.path), std::string::npos) << c.what;
    EXPECT_NE(d.warnings.front().find(c.warning), std::string::npos)
        << c.what << ": " << d.warnings.front();
  }
}

TEST(BadInput, BrokenChainsAndStaleFiles) {
  // A chain that loops would never end.
  Damaged loop("paradox/paradoxdriver/areas/STATES.DB", [](std::string& s) { Put16(s, 221, 1); });
  std::string e = loop.ReadAll();
  EXPECT_NE(e.find("loops back to block 1"), std::string::npos) << e;

  Damaged offset("paradox/paradoxdriver/fields/long.db",
                 [](std::string& s) { Put16(s, 2048 + 4, 5); });
  e = offset.ReadAll();
  EXPECT_NE(e.find("invalid last-record offset 5"), std::string::npos) << e;

  // A validity file from another version of the table is ignored, with a warning.
  Damaged stale("paradox/paradoxdriver/fields/logical.db", nullptr,
                {"paradox/paradoxdriver/fields/logical.val"},
                [](std::string& s) { s[0] = static_cast<char>(s[0] + 1); });
  auto r = stale.Open();
  EXPECT_FALSE(r->Fields()[0].required);
  ASSERT_EQ(r->Warnings().size(), 1u);
  EXPECT_NE(r->Warnings()[0].find("older version"), std::string::npos);

  // A read error is reported, not taken for the end of the table.
  Damaged io("synthetic/types4.dbf", nullptr, {"synthetic/types4.dbt"});
  io.fs.FailReadsFrom(io.path, 400);
  e = io.ReadAll();
  EXPECT_NE(e.find("read error"), std::string::npos) << e;

  // Unknown extensions are refused by name.
  e = ErrorOf([] { bde::OpenSourceTable(Data("synthetic/README.md")); });
  EXPECT_NE(e.find("README.md: unknown table type"), std::string::npos) << e;
}

// Inputs the fuzzers found, run through the fuzz targets' own code: each must end in an
// error about the input or in a full read, under the sanitizers too.
TEST(BadInput, FuzzFindingsStayFixed) {
  const std::string root = std::string(DATOVRAT_TESTDATA) + "/fuzz";
  struct Target {
    const char* name;
    void (*run)(const std::uint8_t*, std::size_t);
  };
  int replayed = 0;
  for (Target t : {Target{"fuzz_bde_dbf", bde_fuzz::FuzzDbf},
                   Target{"fuzz_bde_dbf_memo", bde_fuzz::FuzzDbfMemo},
                   Target{"fuzz_bde_paradox", bde_fuzz::FuzzParadox},
                   Target{"fuzz_bde_code_page", bde_fuzz::FuzzCodePage}}) {
    DIR* dir = opendir((root + "/" + t.name).c_str());
    if (!dir) continue;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const std::string bytes = ReadBytes(root + "/" + t.name + "/" + entry->d_name);
      SCOPED_TRACE(std::string(t.name) + "/" + entry->d_name);
      EXPECT_NO_THROW(t.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
      ++replayed;
    }
    closedir(dir);
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace bde_test
