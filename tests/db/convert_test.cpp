#include "Convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Connection.h"
#include "TestSupport.h"

namespace {

using Db::Variant;

// Row 1 is all Null, row 2 holds values; the declared types give the field
// type codes text 202, long text 203, GUID 72, date 7, boolean 11, 32-bit 3,
// 16-bit 2, double 5, currency 6.
constexpr const char* kSql = R"(
  CREATE TABLE [Sample] (ID INTEGER, T TEXT COLLATE NOCASE, M MEMO COLLATE NOCASE, G GUID COLLATE NOCASE,
                         D DATETIME, B YESNO, I INTEGER, S SHORT, R DOUBLE, C CURRENCY);
  INSERT INTO [Sample] (ID) VALUES (1);
  INSERT INTO [Sample] VALUES (2, '  a b  ', '  x  ', ' {6F9619FF-8B86-D011-B42D-00C04FC964FF} ',
                               '2009-01-02 00:00:00', -1, 42, 7, 2.5, 1.25);
  INSERT INTO [Sample] (ID, T, M) VALUES (3, char(9) || 'tab' || char(9), '   ');
)";

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(path_, kSql); }

  Connection::RecordsetHandle Row(int id) {
    Connection::RecordsetHandle recordset = std::make_unique<Engine::Recordset>();
    std::string description;
    std::int32_t number = 0;
    const bool opened = Connection::OpenRecordset(path_, "Select * From [Sample] Where [ID] = " + std::to_string(id),
                                                  recordset, description, number, true);
    EXPECT_TRUE(opened) << "error " << number << ": " << description;
    return recordset;
  }

  TestSupport::TempDir dir_;
  std::string path_ = dir_.File("Sample.mdb");
};

TEST_F(ConvertTest, NullsGiveTheDefaultOrTheFallbackOfTheirType) {
  struct Case {
    const char* name;
    int row;
    const char* column;
    Variant defaultValue;
    bool trimText;
    Variant expected;
  };
  const std::vector<Case> cases = {
      {"NullTextEmptyDefault", 1, "T", Variant::Text(""), true, Variant::Text("")},
      {"NullTextNoDefault", 1, "T", Variant(), true, Variant::Text("")},
      {"NullTextOwnDefault", 1, "T", Variant::Text("none"), true, Variant::Text("none")},
      {"NullTextNullDefault", 1, "T", Variant::Null(), true, Variant::Null()},
      {"NullGuidIsText", 1, "G", Variant::Text(""), false, Variant::Text("")},
      {"NullBooleanEmptyDefault", 1, "B", Variant::Text(""), true, Variant::Bool(false)},
      {"NullBooleanNullDefault", 1, "B", Variant::Null(), true, Variant::Null()},
      {"NullIntegerDefaultZeroIsTheDefault", 1, "I", Variant::Int16(0), true, Variant::Int16(0)},
      {"NullIntegerOwnDefault", 1, "I", Variant::Int32(7), true, Variant::Int32(7)},
      {"NullIntegerEmptyDefault", 1, "I", Variant::Text(""), true, Variant::Int16(0)},
      {"NullDoubleEmptyDefault", 1, "R", Variant(), true, Variant::Int16(0)},
      {"NullDateNullDefault", 1, "D", Variant::Null(), true, Variant::Null()},
      {"NullDateOwnDefault", 1, "D", Variant::Date("2001-02-03"), true, Variant::Date("2001-02-03 00:00:00")},
      {"TextTrimmed", 2, "T", Variant::Text(""), true, Variant::Text("a b")},
      {"TextUntrimmedWhenNotAsked", 2, "T", Variant::Text(""), false, Variant::Text("  a b  ")},
      {"GuidTrimmedAsText", 2, "G", Variant::Text(""), true, Variant::Text("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")},
      {"TabsAreNotTrimmed", 3, "T", Variant::Text(""), true, Variant::Text("\ttab\t")},
      {"SpacesAloneTrimToEmpty", 3, "M", Variant::Text("dflt"), true, Variant::Text("")},
      {"IntegerUntouched", 2, "I", Variant::Text(""), true, Variant::Int32(42)},
      {"DoubleUntouched", 2, "R", Variant::Text(""), true, Variant::Double(2.5)},
      {"BooleanUntouched", 2, "B", Variant::Text(""), true, Variant::Bool(true)},
      {"DateUntouched", 2, "D", Variant::Text(""), true, Variant::Date("2009-01-02 00:00:00")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connection::RecordsetHandle recordset = Row(c.row);
    ASSERT_TRUE(recordset && !recordset->IsEOF());
    const Variant value = Convert::FieldValue(recordset->Fields(c.column), c.defaultValue, c.trimText);
    EXPECT_EQ(value.GetKind(), c.expected.GetKind());
    EXPECT_TRUE(value == c.expected);
  }
}

TEST_F(ConvertTest, NullDateWithoutDefaultIsNow) {
  Connection::RecordsetHandle recordset = Row(1);
  ASSERT_TRUE(recordset);
  for (const Variant& defaultValue : {Variant(), Variant::Text("")}) {
    const std::string before = Variant::Now().ToDateText();
    const Variant value = Convert::FieldValue(recordset->Fields("D"), defaultValue, true);
    const std::string after = Variant::Now().ToDateText();
    ASSERT_EQ(value.GetKind(), Variant::Kind::Date);
    // "YYYY-MM-DD HH:MM:SS" sorts as it reads.
    EXPECT_LE(before, value.ToDateText());
    EXPECT_LE(value.ToDateText(), after);
  }
}

TEST_F(ConvertTest, FieldThatCannotBeReadGivesTheDefault) {
  Connection::RecordsetHandle recordset = Row(99);  // no such row: at the end from the start
  ASSERT_TRUE(recordset && recordset->IsEOF());
  for (const Variant& defaultValue : {Variant::Text("dflt"), Variant::Null(), Variant(), Variant::Int16(3)}) {
    SCOPED_TRACE(static_cast<int>(defaultValue.GetKind()));
    const Variant value = Convert::FieldValue(recordset->Fields("T"), defaultValue, true);
    EXPECT_EQ(value.GetKind(), defaultValue.GetKind());
    EXPECT_TRUE(value == defaultValue);
  }
}

}  // namespace
