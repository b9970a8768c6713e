// Text holding NUL bytes goes into a file whole through the DAO layer and the storage engine:
// dBase texts may carry them ("ab<NUL>cd"), and a text starting with one is not empty.
#include "dao_test_util.h"

namespace {

using namespace dao;

TEST(TextWithNulBytes, StoredWholeAndReadBackByOthers) {
  daotest::TempDir dir;
  const std::string file = dir.Path("nul.mdb");
  auto engine = DBEngine::Create();
  auto db = engine->CreateDatabase(file, dbLangGeneral);
  daotest::CreateTable(*db, "T", {{"TXT", dbText, 20}, {"M", dbMemo}});
  const std::vector<std::string> texts = {std::string("ab\0cd", 5), std::string("\0xy", 3),
                                          std::string("\0", 1)};
  auto rs = db->OpenRecordset("T", dbOpenDynaset);
  for (const std::string& text : texts) {
    rs->AddNew();
    rs->Fields().Item("TXT")->SetValue(std::string_view(text));
    rs->Fields().Item("M")->SetValue(core::Variant::FromString(text));
    rs->Update();
  }
  rs->Close();
  db->Close();

  db = engine->OpenDatabase(file);
  auto back = db->OpenRecordset("T", dbOpenSnapshot);
  std::vector<std::string> read;
  for (; !back->Eof(); back->MoveNext()) {
    EXPECT_EQ(back->Fields().Item("M")->Value().ToString(),
              back->Fields().Item("TXT")->Value().ToString());
    read.push_back(back->Fields().Item("TXT")->Value().ToString());
  }
  EXPECT_EQ(read, texts);
  db->Close();

  if (!daotest::HaveMdbReader()) GTEST_SKIP() << "mdb-reader is not installed";
  EXPECT_EQ(daotest::MdbReaderRows(file, "T"),
            (std::vector<std::string>{R"(["ab\u0000cd","ab\u0000cd"])",
                                      R"(["\u0000xy","\u0000xy"])", R"(["\u0000","\u0000"])"}));
}

}  // namespace
