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

// Each value as text, 16-bit, 32-bit, double, boolean and date.
TEST(Variant, ConversionsTable) {
  const std::pair<Variant, std::string> rows[] = {
      {Variant(), "|0|0|0|False|error 13"},
      {Variant::Null(), "error 94|error 94|error 94|error 94|error 94|error 94"},
      {Variant::Int32(70000), "70000|error 6|70000|70000|True|2091-08-25 00:00:00"},
      {Variant::Double(2.5), "2.5|2|2|2.5|True|1900-01-01 12:00:00"},
      {Variant::Double(3e9), "3000000000|error 6|error 6|3000000000|True|error 6"},
      {Variant::Currency(1.23456), "1.2346|1|1|1.2346|True|1899-12-31 05:37:49"},
      {Variant::Bool(true), "True|-1|-1|-1|True|1899-12-29 00:00:00"},
      {Variant::Text(" 12.5 "), " 12.5 |12|12|12.5|True|error 13"},
      {Variant::Text("tRUE"), "tRUE|error 13|error 13|error 13|True|error 13"},
      {Variant::Text(""), "|error 13|error 13|error 13|error 13|error 13"},
      {Variant::Text("12/31/2009 1:05 PM"),
       "12/31/2009 1:05 PM|error 13|error 13|error 13|error 13|2009-12-31 13:05:00"},
      {Variant::Text("2/30/2009"), "2/30/2009|error 13|error 13|error 13|error 13|error 13"},
      {Variant::Date("2009-01-02 06:00:00"), "2009-01-02 06:00:00|error 6|39815|39815.25|error 13|2009-01-02 06:00:00"},
  };
  for (const auto& [v, expected] : rows) {
    EXPECT_EQ(Outcome([&] { return v.ToText(); }) + "|" + Outcome([&] { return std::to_string(v.ToInt16()); }) + "|" +
                  Outcome([&] { return std::to_string(v.ToInt32()); }) + "|" +
                  Outcome([&] { return Variant::Double(v.ToDouble()).ToText(); }) + "|" +
                  Outcome([&] { return std::string(v.ToBool() ? "True" : "False"); }) + "|" +
                  Outcome([&] { return v.ToDateText(); }),
              expected);
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
  for (const char* no : {"", " ", ".", "-", "1.2.3", "1e", "0x10", "12a", "1,5"})
    EXPECT_FALSE(Db::IsNumericText(no)) << no;
}

TEST(Variant, NumbersPrintInFullBetweenTinyAndHuge) {
  for (const auto& [value, text] : {std::pair{0.1, "0.1"}, {-0.0, "0"}, {123456789012345.0, "123456789012345"},
                                    {1e15, "1e+15"}, {1.5e-7, "1.5e-07"}})
    EXPECT_EQ(Variant::Double(value).ToText(), text) << text;
}

}  // namespace
