#include "DBQuery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

enum class Builder { Insert, Update };

struct Call {
  Builder builder;
  std::string column;
  std::string value;
  std::uint8_t kind;
  bool first;
  bool last;
  std::string table;
  std::string condition;
  bool dbo;
};

struct Case {
  const char* name;
  std::vector<Call> calls;
  std::string expected;  // what the last call returns
};

// Table, condition and dialect of calls other than the first are junk on
// purpose: the builders must ignore them.
Call Ins(std::string column, std::string value, std::uint8_t kind, bool first, bool last, std::string table = "Junk",
         bool dbo = false) {
  return {Builder::Insert, std::move(column), std::move(value), kind, first, last, std::move(table), "", dbo};
}
Call Upd(std::string column, std::string value, std::uint8_t kind, bool first, bool last, std::string table = "Junk",
         std::string condition = "Junk = #1#", bool dbo = false) {
  return {Builder::Update, std::move(column), std::move(value), kind, first, last, std::move(table),
          std::move(condition), dbo};
}

std::string Make(const Call& call) {
  if (call.builder == Builder::Insert) {
    return DBQuery::InsertSql(call.column, call.value, call.kind, call.first, call.last, call.table, call.dbo);
  }
  return DBQuery::UpdateSql(call.column, call.value, call.kind, call.first, call.last, call.table, call.condition,
                            call.dbo);
}

TEST(DBQuery, BuildsStatementsColumnByColumn) {
  const std::vector<Case> cases = {
      {"InsertThreeKindsJet",
       {Ins("A", "x", 1, true, false, "T"), Ins("B", "1/2/2009", 2, false, false, "X", true), Ins("C", "5", 3, false, true)},
       "INSERT INTO [T] ([A], [B], [C]) VALUES ('x', #1/2/2009#, 5)"},
      {"InsertThreeKindsDbo",
       {Ins("A", "x", 1, true, false, "T", true), Ins("B", "1/2/2009", 2, false, false), Ins("C", "5", 3, false, true)},
       "INSERT INTO [dbo].[T] ([A], [B], [C]) VALUES ('x', '1/2/2009', 5)"},
      {"InsertOneColumn", {Ins("A", "7", 3, true, true, "T")}, "INSERT INTO [T] ([A]) VALUES (7)"},
      {"UpdateOfZone6",
       {Upd("ACTAP", "40", 3, true, false, "Master", "Service = 'TARNVEL-GND'"), Upd("AP", "40", 3, false, true)},
       "UPDATE [Master] SET [ACTAP] = 40, [AP] = 40 WHERE Service = 'TARNVEL-GND'"},
      {"UpdateDboTurnsHashesIntoApostrophes",
       {Upd("A", "x", 1, true, true, "T", "D < #1/2/2009#", true)},
       "UPDATE [dbo].[T] SET [A] = 'x' WHERE D < '1/2/2009'"},
      {"UpdateDboReplacesEveryHash",
       {Upd("A", "1/2/2009", 2, true, true, "T", "[Shipper#] = 3", true)},
       "UPDATE [dbo].[T] SET [A] = '1/2/2009' WHERE [Shipper'] = 3"},
      {"UpdateJetKeepsHashes",
       {Upd("A", "1/2/2009", 2, true, true, "T", "[Shipper#] = 3 And D < #1/2/2009#")},
       "UPDATE [T] SET [A] = #1/2/2009# WHERE [Shipper#] = 3 And D < #1/2/2009#"},
      {"UpdateEmptyConditionEndsWithWhereSpace", {Upd("A", "1", 3, true, true, "T", "")}, "UPDATE [T] SET [A] = 1 WHERE "},
      {"EmptyLiteralLeavesNothingBetweenSeparators",
       {Ins("A", "", 3, true, false, "T"), Ins("B", "", 3, false, false), Ins("C", "", 3, false, true)},
       "INSERT INTO [T] ([A], [B], [C]) VALUES (, , )"},
      {"Kinds0And255AreLiterals",
       {Ins("A", "x", 0, true, false, "T"), Ins("B", "y", 255, false, true)},
       "INSERT INTO [T] ([A], [B]) VALUES (x, y)"},
      {"ApostropheInTextIsNotDoubled",
       {Upd("Name", "O'Brien", 1, true, true, "T", "ID = 1")},
       "UPDATE [T] SET [Name] = 'O'Brien' WHERE ID = 1"},
      {"HyphenatedNamesAreBracketedAsGiven",
       {Ins("ZONE-TBL", "TARNVEL-GND", 1, true, true, "TARNVEL-GND")},
       "INSERT INTO [TARNVEL-GND] ([ZONE-TBL]) VALUES ('TARNVEL-GND')"},
      {"InsertFirstDiscardsPendingUpdate",
       {Upd("X", "1", 3, true, false, "U", "ID = 1"), Ins("A", "2", 3, true, true, "T")},
       "INSERT INTO [T] ([A]) VALUES (2)"},
      {"UpdateFirstDiscardsPendingInsert",
       {Ins("X", "1", 3, true, false, "T", true), Upd("A", "2", 3, true, true, "U", "ID = 1")},
       "UPDATE [U] SET [A] = 2 WHERE ID = 1"},
      {"CompletedStatementIsNotCarriedIntoTheNext",
       {Ins("X", "1", 3, true, true, "T"), Ins("A", "2", 3, true, true, "T")},
       "INSERT INTO [T] ([A]) VALUES (2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i + 1 < c.calls.size(); ++i) {
      const std::string text = Make(c.calls[i]);
      if (!c.calls[i].last) {
        EXPECT_EQ(text, "") << "call " << i;
      }
    }
    EXPECT_EQ(Make(c.calls.back()), c.expected);
  }
}

}  // namespace
