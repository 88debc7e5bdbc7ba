#include "Variant.h"

#include <gtest/gtest.h>

#include <functional>

#include "RunError.h"

namespace {

using Db::Variant;

// The conversion's result as text, or "error N" when it throws.
std::string Outcome(const std::function<std::string()>& conversion) {
  try {
    return conversion();
  } catch (const Platform::RunError& error) {
    return "error " + std::to_string(error.Number());
  }
}

TEST(Variant, ConversionsTable) {
  struct Row {
    const char* name;
    Variant value;
    std::string text, int16, int32, dbl, boolean, date;
  };
  const Row rows[] = {
      {"empty", Variant(), "", "0", "0", "0", "False", "error 13"},
      {"null", Variant::Null(), "error 94", "error 94", "error 94", "error 94", "error 94", "error 94"},
      {"int16", Variant::Int16(-7), "-7", "-7", "-7", "-7", "True", "1899-12-23 00:00:00"},
      {"int32 too big for 16 bits", Variant::Int32(70000), "70000", "error 6", "70000", "70000", "True",
       "2091-08-25 00:00:00"},
      {"double half", Variant::Double(0.5), "0.5", "0", "0", "0.5", "True", "1899-12-30 12:00:00"},
      {"double rounds half to even", Variant::Double(2.5), "2.5", "2", "2", "2.5", "True", "1900-01-01 12:00:00"},
      {"double whole", Variant::Double(40), "40", "40", "40", "40", "True", "1900-02-08 00:00:00"},
      {"double large", Variant::Double(-2147483633), "-2147483633", "error 6", "-2147483633", "-2147483633", "True",
       "error 6"},
      {"double beyond 32 bits", Variant::Double(3e9), "3000000000", "error 6", "error 6", "3000000000", "True",
       "error 6"},
      {"currency rounds to 4 places", Variant::Currency(1.23456), "1.2346", "1", "1", "1.2346", "True",
       "1899-12-31 05:37:49"},
      {"bool true", Variant::Bool(true), "True", "-1", "-1", "-1", "True", "1899-12-29 00:00:00"},
      {"bool false", Variant::Bool(false), "False", "0", "0", "0", "False", "1899-12-30 00:00:00"},
      {"byte", Variant::Byte(255), "255", "255", "255", "255", "True", "1900-09-11 00:00:00"},
      {"numeric text with spaces", Variant::Text(" 12.5 "), " 12.5 ", "12", "12", "12.5", "True", "error 13"},
      {"text with exponent", Variant::Text("-1e3"), "-1e3", "-1000", "-1000", "-1000", "True", "error 13"},
      {"text True any case", Variant::Text("tRUE"), "tRUE", "error 13", "error 13", "error 13", "True", "error 13"},
      {"text that is no number", Variant::Text("SP"), "SP", "error 13", "error 13", "error 13", "error 13",
       "error 13"},
      {"empty text", Variant::Text(""), "", "error 13", "error 13", "error 13", "error 13", "error 13"},
      {"text date m/d/yyyy", Variant::Text("1/2/2009"), "1/2/2009", "error 13", "error 13", "error 13", "error 13",
       "2009-01-02 00:00:00"},
      {"text date with PM time", Variant::Text("12/31/2009 1:05 PM"), "12/31/2009 1:05 PM", "error 13", "error 13",
       "error 13", "error 13", "2009-12-31 13:05:00"},
      {"text date impossible day", Variant::Text("2/30/2009"), "2/30/2009", "error 13", "error 13", "error 13",
       "error 13", "error 13"},
      {"date", Variant::Date("2009-01-02 06:00:00"), "2009-01-02 06:00:00", "error 6", "39815", "39815.25", "error 13",
       "2009-01-02 06:00:00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Variant& v = row.value;
    EXPECT_EQ(Outcome([&] { return v.ToText(); }), row.text);
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToInt16()); }), row.int16);
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToInt32()); }), row.int32);
    EXPECT_EQ(Outcome([&] { return Variant::Double(v.ToDouble()).ToText(); }), row.dbl);
    EXPECT_EQ(Outcome([&] { return std::string(v.ToBool() ? "True" : "False"); }), row.boolean);
    EXPECT_EQ(Outcome([&] { return v.ToDateText(); }), row.date);
  }
}

TEST(Variant, DateAcceptsOnlyTheStoredForm) {
  EXPECT_EQ(Variant::Date("2009-01-02").ToText(), "2009-01-02 00:00:00");
  for (const char* bad : {"1/2/2009", "2009-1-2", "2009-02-29 00:00:00", "2009-01-02 24:00:00", "2009-01-02 ", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Outcome([&] { return Variant::Date(bad).ToText(); }), "error 13");
  }
}

TEST(Variant, NumericTextTest) {
  for (const char* yes : {"0", " -12 ", "+3.", ".5", "1e5", "1.5E-3"}) EXPECT_TRUE(Db::IsNumericText(yes)) << yes;
  for (const char* no : {"", " ", ".", "-", "1.2.3", "1e", "0x10", "12a", "1,5"}) {
    EXPECT_FALSE(Db::IsNumericText(no)) << no;
  }
}

TEST(Variant, EqualityComparesKindAndValue) {
  EXPECT_EQ(Variant::Int16(5), Variant::Int16(5));
  EXPECT_FALSE(Variant::Int16(5) == Variant::Int32(5));
  EXPECT_FALSE(Variant() == Variant::Null());
  EXPECT_EQ(Variant::Text("a"), Variant::Text("a"));
}

TEST(Variant, NumbersPrintInFullBetweenTinyAndHuge) {
  EXPECT_EQ(Variant::Double(0.1).ToText(), "0.1");
  EXPECT_EQ(Variant::Double(-0.0).ToText(), "0");
  EXPECT_EQ(Variant::Double(123456789012345).ToText(), "123456789012345");
  EXPECT_EQ(Variant::Double(1e15).ToText(), "1e+15");
  EXPECT_EQ(Variant::Double(1.5e-7).ToText(), "1.5e-07");
}

}  // namespace
