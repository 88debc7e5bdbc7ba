#include "Convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Connection.h"
#include "TestSupport.h"

namespace {

using Db::Variant;

// Row 1 is all Null, row 2 holds values, row 3 odd white space.
constexpr const char* kSql = R"(
  CREATE TABLE [Sample] (ID INTEGER, T TEXT COLLATE NOCASE, M MEMO COLLATE NOCASE, G GUID COLLATE NOCASE,
                         D DATETIME, B YESNO, I INTEGER, R DOUBLE);
  INSERT INTO [Sample] (ID) VALUES (1);
  INSERT INTO [Sample] VALUES (2, '  a b  ', '  x  ', ' {6F9619FF-8B86-D011-B42D-00C04FC964FF} ',
                               '2009-01-02 00:00:00', -1, 42, 2.5);
  INSERT INTO [Sample] (ID, T, M) VALUES (3, char(9) || 'tab' || char(9), '   ');
)";

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::CreateDatabase(path_, kSql); }

  Connection::RecordsetHandle Row(int id) {
    Connection::RecordsetHandle recordset;
    std::string description;
    std::int32_t number = 0;
    EXPECT_TRUE(Connection::OpenRecordset(path_, "Select * From [Sample] Where [ID] = " + std::to_string(id),
                                          recordset, description, number, true))
        << description;
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
      {"NullTextNoDefault", 1, "T", Variant(), true, Variant::Text("")},
      {"NullTextNullDefault", 1, "T", Variant::Null(), true, Variant::Null()},
      {"NullGuidIsText", 1, "G", Variant::Text(""), false, Variant::Text("")},
      {"NullBooleanEmptyDefault", 1, "B", Variant::Text(""), true, Variant::Bool(false)},
      {"NullIntegerOwnDefault", 1, "I", Variant::Int32(7), true, Variant::Int32(7)},
      {"NullDoubleEmptyDefault", 1, "R", Variant(), true, Variant::Int16(0)},
      {"NullDateNullDefault", 1, "D", Variant::Null(), true, Variant::Null()},
      {"TextTrimmed", 2, "T", Variant::Text(""), true, Variant::Text("a b")},
      {"TextUntrimmedWhenNotAsked", 2, "T", Variant::Text(""), false, Variant::Text("  a b  ")},
      {"GuidTrimmedAsText", 2, "G", Variant::Text(""), true, Variant::Text("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")},
      {"TabsAreNotTrimmed", 3, "T", Variant::Text(""), true, Variant::Text("\ttab\t")},
      {"SpacesAloneTrimToEmpty", 3, "M", Variant::Text("dflt"), true, Variant::Text("")},
      {"DateUntouched", 2, "D", Variant::Text(""), true, Variant::Date("2009-01-02 00:00:00")},
      {"UnreadableFieldGivesTheDefault", 99, "T", Variant::Int16(3), true, Variant::Int16(3)},
      {"UnreadableFieldGivesEvenEmpty", 99, "T", Variant(), true, Variant()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connection::RecordsetHandle recordset = Row(c.row);
    ASSERT_TRUE(recordset && recordset->IsEOF() == (c.row == 99));  // no row 99: at the end from the start
    const Variant value = Convert::FieldValue(recordset->Fields(c.column), c.defaultValue, c.trimText);
    EXPECT_EQ(value.GetKind(), c.expected.GetKind());
    EXPECT_TRUE(value == c.expected);
  }
}

TEST_F(ConvertTest, NullDateWithoutDefaultIsNow) {
  Connection::RecordsetHandle recordset = Row(1);
  ASSERT_TRUE(recordset);
  const std::string before = Variant::Now().ToDateText();
  const Variant value = Convert::FieldValue(recordset->Fields("D"), Variant::Text(""), true);
  ASSERT_EQ(value.GetKind(), Variant::Kind::Date);
  // "YYYY-MM-DD HH:MM:SS" sorts as it reads.
  EXPECT_LE(before, value.ToDateText());
  EXPECT_LE(value.ToDateText(), Variant::Now().ToDateText());
}

}  // namespace
