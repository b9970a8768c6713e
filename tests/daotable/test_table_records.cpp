// Record buffers: value texts read from DAO and written by field assignment, their native
// forms, changed marks, and memo and blob streams.
#include <gtest/gtest.h>

#include <cstring>

#include "core/datetime.h"
#include "table_fixture.h"

namespace daotabletest {
namespace {

using daotable::TDaoValues;

const TDaoValues& Values(TMxDaoTable& t) {
  return *TMxDaoTable::RecInfo(t.GetActiveRecordBuffer()).Values;
}
TDaoValues& MutableValues(TMxDaoTable& t) {
  return *TMxDaoTable::RecInfo(t.GetActiveRecordBuffer()).Values;
}

class RecordTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    MakeTable("T", {{"ID", dao::dbLong, -1, dao::dbAutoIncrField},
                    {"NAME", dao::dbText, 30},
                    {"WHEN", dao::dbDate},
                    {"AT", dao::dbDate},
                    {"OK", dao::dbBoolean},
                    {"N", dao::dbLong},
                    {"G", dao::dbGUID},
                    {"M", dao::dbMemo},
                    {"B", dao::dbLongBinary},
                    {"X", dao::dbDouble}});
    auto f = Dao().TableDefs().Item("T")->Fields().Item("AT");
    f->Properties().Append(f->CreateProperty("Format", dao::dbText, core::Variant("Short Time")));
    double noon = core::EncodeDateTime({2000, 1, 1, 12, 0, 0, 0});
    AddRows("T", {{{},
                   core::Variant("Žluťoučký"),
                   core::Variant::FromDate(noon),
                   {},
                   core::Variant(true),
                   core::Variant(7),
                   {},
                   core::Variant(std::string(1200, 'm')),
                   {},
                   core::Variant(2.5)},
                  {{}, core::Variant::Null(), {}, {}, {}, {}, {}, core::Variant::Null(), {}, {}}});
  }
};

TEST_F(RecordTest, DaoValuesBecomeValueTexts) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  const TDaoValues& v = Values(*t);
  EXPECT_EQ(v[0].Text, "1");
  EXPECT_EQ(v[1].Text, "Žluťoučký");
  EXPECT_EQ(v[2].Text, "730120 43200000");  // 1 January 2000 12:00
  EXPECT_EQ(v[4].Text, "True");
  // Memo not cached: DAO's FieldSize (two bytes per character here), enough to say "not null".
  EXPECT_EQ(v[7].Text, "2400");
  EXPECT_EQ(v[8].Text, "");
  EXPECT_EQ(v[9].Text, "2.5");
  for (const auto& e : v) EXPECT_FALSE(e.Changed);
  EXPECT_FALSE(t->FieldByName("M").IsNull());
  EXPECT_EQ(t->FieldByName("M").AsString(), std::string(1200, 'm'));
  EXPECT_DOUBLE_EQ(t->FieldByName("WHEN").AsDateTime(), core::EncodeDateTime({2000, 1, 1, 12}));

  t->Next();
  EXPECT_TRUE(t->FieldByName("NAME").IsNull());  // "" is stored as Null
  EXPECT_TRUE(t->FieldByName("M").IsNull());
  t->Close();

  t->SetCacheMemos(true);
  t->Open();
  EXPECT_EQ(Values(*t)[7].Text, std::string(1200, 'm'));
}

TEST_F(RecordTest, ValueTextsReadBackInNativeForm) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Edit();
  struct Case {
    const char* field;
    const char* text;
    bool has_value;
    std::int64_t native;  // integer kinds
  };
  std::vector<Case> cases = {
      {"OK", "Yes", true, 1}, {"OK", "ON", true, 1},     {"OK", "-1", true, 1},
      {"OK", "off", true, 0}, {"OK", "=false", true, 0}, {"OK", "2", true, 2},
      {"N", "3.7", true, 4},  {"N", "2.5", true, 2},     {"N", "-12", true, -12},
  };
  for (const auto& c : cases) {
    ds::TField& f = t->FieldByName(c.field);
    MutableValues(*t)[static_cast<std::size_t>(f.FieldNo() - 1)].Text = c.text;
    std::int64_t got = 0;
    if (f.DataType() == ds::ftBoolean) {
      std::int16_t v = -99;
      EXPECT_EQ(f.GetData(&v), c.has_value) << c.text;
      got = v;
    } else {
      std::int32_t v = -99;
      EXPECT_EQ(f.GetData(&v), c.has_value) << c.text;
      got = v;
    }
    EXPECT_EQ(got, c.native) << c.field << " " << c.text;
  }
  // A date text without its blank is no date.
  ds::TField& when = t->FieldByName("WHEN");
  MutableValues(*t)[2].Text = "730120";
  double d = -1;
  EXPECT_FALSE(when.GetData(&d));
  EXPECT_EQ(d, -1);
  t->Cancel();
}

TEST_F(RecordTest, AssignedValuesBecomeValueTextsWithChangedMarks) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  int changes = 0;
  t->FieldByName("NAME").OnChange = [&](ds::TField*) { ++changes; };
  t->Append();
  t->FieldByName("AT").SetAsDateTime(core::EncodeDateTime({1899, 12, 30, 8, 30}));
  t->FieldByName("WHEN").SetAsDateTime(core::EncodeDateTime({2000, 1, 1, 12}));
  t->FieldByName("NAME").SetAsString("");
  t->FieldByName("OK").SetAsBoolean(false);
  t->FieldByName("N").SetAsInteger(-5);
  t->FieldByName("X").SetAsFloat(0.1);
  std::uint8_t zero[16] = {};
  t->FieldByName("G").SetData(zero);
  const TDaoValues& v = Values(*t);
  EXPECT_EQ(v[3].Text, "693594 30600000");  // a time alone falls on 30 December 1899
  EXPECT_EQ(v[2].Text, "730120 43200000");
  EXPECT_EQ(v[1].Text, "");
  EXPECT_TRUE(t->FieldByName("NAME").IsNull());
  EXPECT_EQ(v[4].Text, "False");
  EXPECT_EQ(v[5].Text, "-5");
  EXPECT_EQ(v[9].Text, "0.1");
  EXPECT_EQ(v[6].Text, "");  // an all-zero GUID is null
  EXPECT_TRUE(v[1].Changed && v[2].Changed && v[6].Changed);
  EXPECT_FALSE(v[0].Changed || v[7].Changed);
  EXPECT_EQ(changes, 1);

  std::uint8_t guid[16];
  for (int i = 0; i < 16; ++i) guid[i] = static_cast<std::uint8_t>(0xA0 + i);
  t->FieldByName("G").SetData(guid);
  EXPECT_EQ(v[6].Text, "{guid {A3A2A1A0-A5A4-A7A6-A8A9-AAABACADAEAF}}");
  std::uint8_t back[16] = {};
  EXPECT_TRUE(t->FieldByName("G").GetData(back));
  EXPECT_EQ(std::memcmp(back, guid, 16), 0);

  // The auto-increment field is read-only: assignment stores nothing and tells nobody.
  int id_changes = 0;
  t->FieldByName("ID").OnChange = [&](ds::TField*) { ++id_changes; };
  t->FieldByName("ID").SetAsInteger(99);
  EXPECT_EQ(v[0].Text, "");
  EXPECT_FALSE(v[0].Changed);
  EXPECT_EQ(id_changes, 0);
  t->Cancel();
}

TEST_F(RecordTest, GetCurrentRecordCopiesOnlyAnExistingRecord) {
  MakeTable("E", {{"A", dao::dbLong}});
  TMxDaoTable* e = NewTable("E");
  e->Open();
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(e->RecordSize()), 0xEE);
  EXPECT_FALSE(e->GetCurrentRecord(raw.data()));
  EXPECT_EQ(raw[0], 0xEE);

  TMxDaoTable* t = NewTable("T");
  t->Open();
  std::vector<std::uint8_t> copy(static_cast<std::size_t>(t->RecordSize()), 0);
  EXPECT_TRUE(t->GetCurrentRecord(copy.data()));
  const auto& info = TMxDaoTable::RecInfo(copy.data());
  EXPECT_EQ(info.RecordIndex, 0);
  EXPECT_EQ((*info.Values)[1].Text, "Žluťoučký");
}

TEST_F(RecordTest, BlobStreamsWriteTruncateAndRead) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  ds::TField& memo = t->FieldByName("M");
  {
    auto s = t->CreateBlobStream(&memo, ds::bmWrite);
    s->WriteString("0123456789");
    s->SetPosition(2);
    s->WriteString("abc");  // a write cuts the content at its position
    EXPECT_EQ(s->Size(), 5);
    s->Seek(20, ds::soFromBeginning);
    char buf[4];
    EXPECT_EQ(s->Read(buf, 4), 0);
  }
  EXPECT_EQ(Values(*t)[7].Text, "01abc");
  EXPECT_TRUE(Values(*t)[7].Changed);
  EXPECT_EQ(memo.AsString(), "01abc");

  // An empty copy leaves the entry empty and marked: posting writes Null.
  ds::TField& blob = t->FieldByName("B");
  { auto s = t->CreateBlobStream(&blob, ds::bmWrite); }
  EXPECT_TRUE(Values(*t)[8].Changed);
  EXPECT_TRUE(blob.IsNull());
  t->Post();
  auto rows = ReadRows("T");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2][7].ToString(), "01abc");
  EXPECT_TRUE(rows[2][8].IsNull());
  t->Close();

  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(ErrorText([&] { t->CreateBlobStream(&t->FieldByName("M"), ds::bmWrite); }),
            "Cannot write to ReadOnly table!");
}

TEST_F(RecordTest, ReadStreamOfANewRecordGivesTheDefaultText) {
  Dao().TableDefs().Item("T")->Fields().Item("M")->SetDefaultValue("\"výchozí\"");
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  EXPECT_EQ(t->FieldByName("M").AsString(), "výchozí");
  t->Cancel();
}

TEST_F(RecordTest, MemoCopiedFieldToFieldArrivesWhole) {
  MakeTable("D", {{"M", dao::dbMemo}, {"B", dao::dbLongBinary}});
  TMxDaoTable* src = NewTable("T");
  src->Open();
  TMxDaoTable* dst = NewTable("D");
  dst->Open();
  std::string big(70000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  src->Edit();
  src->FieldByName("M").SetAsString(big);
  src->Post();
  dst->Append();
  dst->FieldByName("M").Assign(src->FieldByName("M"));
  EXPECT_EQ(Values(*dst)[0].Text.size(), 70000u);
  dst->Post();
  auto rows = ReadRows("D");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].ToString(), big);
}

}  // namespace
}  // namespace daotabletest

namespace daotabletest {
namespace {

// Reverses texts: enough to see that values pass through it both ways.
class ReversingEncrypter : public ds::TComponent, public daotable::TMxDaoStringEncrypter {
 public:
  using ds::TComponent::TComponent;
  std::string EncodedString() const override { return encoded_; }
  void SetEncodedString(const std::string& value) override {
    encoded_ = value;
    decoded_.assign(value.rbegin(), value.rend());
  }
  std::string DecodedString() const override { return decoded_; }
  void SetDecodedString(const std::string& value) override {
    decoded_ = value;
    encoded_.assign(value.rbegin(), value.rend());
  }

 private:
  std::string encoded_, decoded_;
};

TEST_F(RecordTest, TextHandlersShowGuidsAndFirstMemoLines) {
  TMxDaoTable* t = NewTable("T");
  t->SetShowGUID(true);
  t->SetCacheMemos(true);
  t->Open();
  t->Edit();
  t->FieldByName("G").SetText("{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(t->FieldByName("G").Text(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  t->FieldByName("G").SetText("too short");  // ignored
  EXPECT_EQ(t->FieldByName("G").Text(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  t->FieldByName("M").SetAsString("first line\r\nsecond");
  EXPECT_EQ(t->FieldByName("M").DisplayText(), "first line");
  t->Post();
  EXPECT_EQ(ReadRows("T")[0][6].ToString(), "{guid {00112233-4455-6677-8899-AABBCCDDEEFF}}");
}

TEST_F(RecordTest, EncrypterSeesTextsAndBlobsBothWays) {
  auto* crypt = new ReversingEncrypter(owner.get());
  TMxDaoTable* t = NewTable("T");
  t->SetEncrypter(crypt);
  t->SetCacheMemos(true);
  t->Open();
  EXPECT_TRUE(t->EncrypterActive());
  t->Append();
  t->FieldByName("NAME").SetAsString("abc");
  t->FieldByName("M").SetAsString("xyz");
  t->FieldByName("N").SetAsInteger(12);
  t->Post();
  auto row = ReadRows("T").at(2);
  EXPECT_EQ(row[1].ToString(), "cba");
  EXPECT_EQ(row[7].ToString(), "zyx");
  EXPECT_EQ(row[5].ToLong(), 12);  // numbers are not passed through it
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "abc");
  EXPECT_EQ(t->FieldByName("M").AsString(), "xyz");
  delete crypt;  // the table closes and forgets it
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(t->Encrypter(), nullptr);
}

}  // namespace
}  // namespace daotabletest

namespace daotabletest {
namespace {

TEST_F(RecordTest, AStreamThatOutlivesItsTableOpenHoldsOnlyItsOwnCopy) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  auto s = t->CreateBlobStream(&t->FieldByName("M"), ds::bmWrite);
  s->WriteString("before");
  t->Cancel();
  t->Close();
  s->WriteString(" after");  // the buffer is gone: nothing reaches it
  char buf[4];
  s->SetPosition(0);
  EXPECT_LE(s->Read(buf, 4), 4);
  s.reset();
  t->Open();
  EXPECT_EQ(ReadRows("T").size(), 2u);
}

}  // namespace
}  // namespace daotabletest
