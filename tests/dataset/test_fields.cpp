// Field kinds: native forms, conversions, errors, and field-to-field assignment for every kind
// (value and null; memo and blob content through streams).
#include <gtest/gtest.h>

#include "core/datetime.h"
#include "memory_dataset.h"

namespace dstest {
namespace {

// One column of every kind, in this order.
void AllKinds(TFieldDefs& defs) {
  defs.Add("S", ftString, 8);
  defs.Add("SI", ftSmallint);
  defs.Add("I", ftInteger);
  defs.Add("W", ftWord);
  defs.Add("AI", ftAutoInc);
  defs.Add("B", ftBoolean);
  defs.Add("F", ftFloat);
  defs.Add("C", ftCurrency);
  defs.Add("BCD", ftBCD, 4);
  defs.Add("D", ftDate);
  defs.Add("T", ftTime);
  defs.Add("DT", ftDateTime);
  defs.Add("BY", ftBytes, 4);
  defs.Add("VB", ftVarBytes, 6);
  defs.Add("BL", ftBlob);
  defs.Add("M", ftMemo);
  defs.Add("G", ftGraphic);
  defs.Add("FM", ftFmtMemo);
}

const double kNoon2000 = 36526.5;  // 1 January 2000 12:00

std::vector<Variant> SampleValues() {
  std::string big_memo(5000, 'x');
  big_memo += "ěščř";
  std::string blob("\x00\x01\xff\x80zz", 6);
  return {Variant("Žluťák"),
          Variant::FromInteger(-300),
          Variant(-2000000000),
          Variant(65535),
          Variant(77),
          Variant::FromBoolean(true),
          Variant(0.1),
          Variant(-12.3456),
          Variant(123.4567),
          Variant::FromDate(36526),
          Variant::FromDate(0.354166666666667),  // 08:30
          Variant::FromDate(kNoon2000),
          Variant::FromBytes({0, 255, 7, 0}),
          Variant::FromBytes({1, 2, 3}),
          Variant::FromBytes(std::vector<std::uint8_t>(blob.begin(), blob.end())),
          Variant(big_memo),
          Variant::FromBytes({0x47, 0x49, 0x46, 0}),
          Variant("{\\rtf1}")};
}

TEST(Fields, DefaultFieldsHaveTheClassAndNativeSizeOfTheirType) {
  TMemoryDataset ds;
  AllKinds(ds.Schema());
  ds.Open();
  struct Expect {
    const char* name;
    bool (*is)(TField*);
    int data_size;
  };
  const Expect expect[] = {
      {"S", [](TField* f) { return dynamic_cast<TStringField*>(f) != nullptr; }, 33},
      {"SI", [](TField* f) { return dynamic_cast<TSmallintField*>(f) != nullptr; }, 4},
      {"I", [](TField* f) { return dynamic_cast<TIntegerField*>(f) != nullptr; }, 4},
      {"W", [](TField* f) { return dynamic_cast<TWordField*>(f) != nullptr; }, 4},
      {"AI", [](TField* f) { return dynamic_cast<TAutoIncField*>(f) != nullptr; }, 4},
      {"B", [](TField* f) { return dynamic_cast<TBooleanField*>(f) != nullptr; }, 2},
      {"F", [](TField* f) { return dynamic_cast<TFloatField*>(f) != nullptr; }, 8},
      {"C", [](TField* f) { return dynamic_cast<TCurrencyField*>(f) != nullptr; }, 8},
      {"BCD", [](TField* f) { return dynamic_cast<TBCDField*>(f) != nullptr; }, 8},
      {"D", [](TField* f) { return dynamic_cast<TDateField*>(f) != nullptr; }, 4},
      {"T", [](TField* f) { return dynamic_cast<TTimeField*>(f) != nullptr; }, 4},
      {"DT", [](TField* f) { return dynamic_cast<TDateTimeField*>(f) != nullptr; }, 8},
      {"BY", [](TField* f) { return dynamic_cast<TBytesField*>(f) != nullptr; }, 4},
      {"VB", [](TField* f) { return dynamic_cast<TVarBytesField*>(f) != nullptr; }, 8},
      {"BL", [](TField* f) { return dynamic_cast<TBlobField*>(f) != nullptr; }, 0},
      {"M", [](TField* f) { return dynamic_cast<TMemoField*>(f) != nullptr; }, 0},
      {"G", [](TField* f) { return dynamic_cast<TGraphicField*>(f) != nullptr; }, 0},
      {"FM", [](TField* f) { return dynamic_cast<TFmtMemoField*>(f) != nullptr; }, 0},
  };
  ASSERT_EQ(ds.FieldCount(), 18);
  for (int i = 0; i < 18; ++i) {
    TField& f = ds.Fields()[i];
    EXPECT_EQ(f.FieldName(), expect[i].name);
    EXPECT_TRUE(expect[i].is(&f)) << expect[i].name;
    EXPECT_EQ(f.DataSize(), expect[i].data_size) << expect[i].name;
    EXPECT_EQ(f.FieldNo(), i + 1);
    EXPECT_EQ(f.DataType(), ds.FieldDefs()[i].DataType());
    EXPECT_EQ(f.IsBlob(), i >= 14);
  }
}

TEST(Fields, NativeFormsAreTheDocumentedOnes) {
  TMemoryDataset ds;
  AllKinds(ds.Schema());
  ds.Open();
  ds.Append();
  ds.FieldByName("I").SetAsInteger(-5);
  ds.FieldByName("B").SetAsBoolean(true);
  ds.FieldByName("D").SetAsDateTime(36526);       // 2000-01-01
  ds.FieldByName("T").SetAsDateTime(0.5);         // 12:00
  ds.FieldByName("DT").SetAsDateTime(kNoon2000);  // both
  ds.FieldByName("VB").SetAsString("ab");
  ds.FieldByName("S").SetAsString("Já");
  const auto& v = MemoryRecordValues(ds);
  auto i32 = [](const std::optional<std::string>& s) {
    std::int32_t x;
    std::memcpy(&x, s->data(), 4);
    return x;
  };
  EXPECT_EQ(i32(v[2]), -5);
  EXPECT_EQ(v[5]->size(), 2u);
  EXPECT_NE((*v[5])[0] | (*v[5])[1], 0);
  // Day 730120 is 1 January 2000 counted from 1 January of year 1 as day 1.
  EXPECT_EQ(i32(v[9]), 730120);
  EXPECT_EQ(i32(v[10]), 43200000);
  double ms;
  std::memcpy(&ms, v[11]->data(), 8);
  EXPECT_EQ(ms, 730120.0 * 86400000 + 43200000);
  EXPECT_EQ(*v[13], std::string("\x02\x00"
                                "ab\x00\x00\x00\x00",
                                8));
  EXPECT_EQ(*v[0], "Já");
  ds.Cancel();
}

TEST(Fields, TextConversionsAndTheirErrors) {
  TMemoryDataset ds;
  AllKinds(ds.Schema());
  ds.Open();
  ds.Append();
  struct Case {
    const char* field;
    const char* text;
    const char* read_back;  // nullptr: setting raises
  };
  const Case cases[] = {
      {"S", "12345678", "12345678"},
      {"S", "123456789", nullptr},    // one character too many
      {"S", "ěščřžýáí", "ěščřžýáí"},  // eight characters, sixteen bytes
      {"SI", "-32768", "-32768"},
      {"SI", "32768", nullptr},
      {"W", "-1", nullptr},
      {"W", "65535", "65535"},
      {"I", " +42 ", "42"},
      {"I", "4x", nullptr},
      {"I", "", ""},
      {"B", "t", "True"},
      {"B", "FALSE", "False"},
      {"B", "0", "False"},
      {"B", "maybe", nullptr},
      {"F", "1.5E+20", "1.5E+20"},
      {"F", "0,25", "0.25"},
      {"F", "abc", nullptr},
      {"D", "2000-01-01", "2000-01-01"},
      {"D", "12/31/1999", "1999-12-31"},
      {"D", "31.02.2000", nullptr},
      {"T", "8:30", "08:30:00"},
      {"T", "1:05:09 PM", "13:05:09"},
      {"T", "25:00", nullptr},
      {"DT", "2000-01-02 13:05:09", "2000-01-02 13:05:09"},
      {"BY", "abcd", "abcd"},
      {"BY", "abcde", nullptr},
      {"BY", "ab", "ab"},  // padded with zero bytes, checked below
      {"VB", "abcdef", "abcdef"},
      {"M", "line1\r\nline2", "line1\r\nline2"},
  };
  for (const Case& c : cases) {
    TField& f = ds.FieldByName(c.field);
    if (c.read_back == nullptr) {
      EXPECT_THROW(f.SetAsString(c.text), core::Exception) << c.field << " " << c.text;
      continue;
    }
    f.SetAsString(c.text);
    if (std::string(c.field) == "BY" && std::string(c.text) == "ab")
      EXPECT_EQ(f.AsString(), std::string("ab\0\0", 4));
    else
      EXPECT_EQ(f.AsString(), c.read_back) << c.field << " " << c.text;
  }
  EXPECT_EQ(ds.FieldByName("I").AsString(), "") << "an empty text clears";
  EXPECT_TRUE(ds.FieldByName("I").IsNull());

  // Numbers between kinds: halves round to even; out-of-range refuses.
  ds.FieldByName("I").SetAsFloat(2.5);
  EXPECT_EQ(ds.FieldByName("I").AsInteger(), 2);
  ds.FieldByName("I").SetAsFloat(3.5);
  EXPECT_EQ(ds.FieldByName("I").AsInteger(), 4);
  EXPECT_THROW(ds.FieldByName("SI").SetAsFloat(40000), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("F").SetAsFloat(std::numeric_limits<double>::quiet_NaN()),
               EDatabaseError);
  EXPECT_THROW(ds.FieldByName("B").AsDateTime(), EDatabaseError);  // no such access
  try {
    ds.FieldByName("D").AsBoolean();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot access field 'D' as type Boolean");
  }
  ds.Cancel();
}

TEST(Fields, VariantValuesOfEveryKind) {
  TMemoryDataset ds;
  AllKinds(ds.Schema());
  ds.Open();
  std::vector<Variant> values = SampleValues();
  ds.AppendRecord(values);
  const core::VarType kinds[] = {
      core::VarType::String,    core::VarType::Integer,   core::VarType::Long,
      core::VarType::Long,      core::VarType::Long,      core::VarType::Boolean,
      core::VarType::Double,    core::VarType::Double,    core::VarType::Currency,
      core::VarType::Date,      core::VarType::Date,      core::VarType::Date,
      core::VarType::ByteArray, core::VarType::ByteArray, core::VarType::ByteArray,
      core::VarType::String,    core::VarType::ByteArray, core::VarType::String};
  for (int i = 0; i < 18; ++i) {
    Variant v = ds.Fields()[i].Value();
    EXPECT_EQ(v.Type(), kinds[i]) << ds.Fields()[i].FieldName();
    if (i == 13) continue;  // var bytes come back at their own length
    if (v.Type() == core::VarType::Date)
      EXPECT_NEAR(v.ToDate(), values[i].ToDate(), 1e-8) << ds.Fields()[i].FieldName();
    else if (i == 8)
      EXPECT_EQ(v.ToDouble(), 123.4567);
    else
      EXPECT_EQ(v.ToString(), values[i].ToString()) << ds.Fields()[i].FieldName();
  }
  EXPECT_EQ(ds.FieldByName("VB").Value().Bytes(), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(ds.FieldByName("M").AsString().size(), 5008u);
  EXPECT_EQ(ds.FieldByName("M").DisplayText(), "(MEMO)");
}

// The copy's central step: every destination field takes the source field's value, null
// included, memo and blob content through streams.
TEST(Fields, AssignCopiesValueAndNullForEveryKind) {
  TMemoryDataset source, dest;
  AllKinds(source.Schema());
  AllKinds(dest.Schema());
  source.Open();
  std::vector<Variant> values = SampleValues();
  source.AppendRecord(values);
  std::vector<Variant> nulls(values.size(), Variant::Null());
  source.AppendRecord(nulls);
  source.First();
  dest.Open();

  for (int pass = 0; pass < 2; ++pass) {
    dest.Append();
    // Something already there must be replaced, also by null.
    dest.FieldByName("S").SetAsString("old");
    dest.FieldByName("M").SetAsString("old memo");
    for (int i = 0; i < source.FieldCount(); ++i) dest.Fields()[i].Assign(source.Fields()[i]);
    dest.Post();
    for (int i = 0; i < source.FieldCount(); ++i) {
      TField& s = source.Fields()[i];
      TField& d = dest.Fields()[i];
      EXPECT_EQ(d.IsNull(), s.IsNull()) << s.FieldName() << " pass " << pass;
      EXPECT_EQ(d.AsVariant().Type(), s.AsVariant().Type()) << s.FieldName();
      EXPECT_EQ(d.AsString(), s.AsString()) << s.FieldName();
    }
    source.Next();
  }
  // Stored rows agree byte for byte.
  EXPECT_EQ(dest.Rows()[0].values, source.Rows()[0].values);
  EXPECT_EQ(dest.Rows()[1].values, source.Rows()[1].values);

  // Across kinds the value goes through its variant.
  dest.Append();
  dest.FieldByName("S").Assign(source.FieldByName("I"));
  dest.FieldByName("F").Assign(source.FieldByName("SI"));
  dest.FieldByName("M").Assign(source.FieldByName("S"));
  dest.FieldByName("BL").Assign(source.FieldByName("BY"));
  dest.FieldByName("DT").Assign(source.FieldByName("D"));
  source.First();
  EXPECT_THROW(dest.FieldByName("S").Assign(source.FieldByName("I")), EDatabaseError);  // 11 > 8
  dest.FieldByName("S").Assign(source.FieldByName("W"));
  EXPECT_EQ(dest.FieldByName("S").AsString(), "65535");
  EXPECT_THROW(dest.FieldByName("SI").Assign(source.FieldByName("I")), EDatabaseError);  // range
  dest.FieldByName("F").Assign(source.FieldByName("SI"));
  dest.FieldByName("M").Assign(source.FieldByName("S"));
  dest.FieldByName("BL").Assign(source.FieldByName("BY"));
  dest.FieldByName("DT").Assign(source.FieldByName("D"));
  EXPECT_EQ(dest.FieldByName("F").AsFloat(), -300);
  EXPECT_EQ(dest.FieldByName("M").AsString(), "Žluťák");
  EXPECT_EQ(dest.FieldByName("BL").AsString(), std::string("\0\xff\x07\0", 4));
  EXPECT_EQ(dest.FieldByName("DT").AsDateTime(), 36526);
  EXPECT_THROW(dest.FieldByName("S").Assign(source.FieldByName("M")), EDatabaseError);  // too long
  dest.Cancel();
}

TEST(Fields, BlobStreamsAndEvents) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  ds.Schema().Add("M", ftMemo);
  ds.Open();
  ds.Append();
  TBlobField& memo = static_cast<TBlobField&>(ds.FieldByName("M"));
  int changes = 0;
  memo.OnChange = [&](TField*) { ++changes; };
  TMemoryStream in("0123456789");
  memo.LoadFromStream(in);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(memo.BlobSize(), 10);
  {
    auto stream = ds.CreateBlobStream(&memo, bmReadWrite);
    stream->Seek(2, soFromBeginning);
    stream->WriteString("abc");  // a write cuts the content at its end
  }
  EXPECT_EQ(memo.AsString(), "01abc");
  TMemoryStream out;
  memo.SaveToStream(out);
  EXPECT_EQ(out.DataString(), "01abc");
  memo.Clear();
  EXPECT_TRUE(memo.IsNull());
  EXPECT_EQ(memo.DisplayText(), "(memo)");
  ds.Cancel();
  ds.read_only = true;
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST(Fields, ValidateTextEventsAndOldValues) {
  TMemoryDataset ds;
  ds.Schema().Add("N", ftInteger);
  Fill(ds, {{Variant(1)}});
  TField& n = ds.FieldByName("N");
  std::vector<int> validated;
  n.OnValidate = [&](TField* f) {
    validated.push_back(f->AsInteger());  // the value about to be stored
    if (f->AsInteger() < 0) ds::DatabaseError("negative");
  };
  n.OnGetText = [](TField* f, std::string& text, bool display) {
    text = display ? "#" + f->AsString() : f->AsString();
  };
  n.OnSetText = [](TField* f, const std::string& text) { f->SetAsInteger(std::stoi(text) * 10); };
  ds.Edit();
  n.SetText("7");
  EXPECT_EQ(n.AsInteger(), 70);
  EXPECT_THROW(n.SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(n.AsInteger(), 70);  // refused by validation: unchanged
  EXPECT_EQ(validated, (std::vector<int>{70, -1}));
  EXPECT_EQ(n.DisplayText(), "#70");
  EXPECT_EQ(n.Text(), "70");
  EXPECT_EQ(n.OldValue().ToLong(), 1);
  EXPECT_EQ(n.NewValue().ToLong(), 70);
  ds.Post();
  EXPECT_EQ(n.AsInteger(), 70);
}

}  // namespace
}  // namespace dstest
