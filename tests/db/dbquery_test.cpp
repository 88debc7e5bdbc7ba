#include "DBQuery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One builder call; table, condition and dialect of calls other than the
// first are junk on purpose: the builders must ignore them.
struct Call {
  bool insert;
  std::string column, value;
  std::uint8_t kind;
  bool first, last;
  std::string table = "Junk", condition = "Junk = #1#";
  bool dbo = false;

  std::string Make() const {
    return insert ? DBQuery::InsertSql(column, value, kind, first, last, table, dbo)
                  : DBQuery::UpdateSql(column, value, kind, first, last, table, condition, dbo);
  }
};

TEST(DBQuery, BuildsStatementsColumnByColumn) {
  struct Case {
    const char* name;
    std::vector<Call> calls;
    std::string expected;  // what the last call returns
  };
  const std::vector<Case> cases = {
      {"InsertThreeKindsJet",
       {{true, "A", "x", 1, true, false, "T"}, {true, "B", "1/2/2009", 2, false, false, "X", "", true},
        {true, "C", "5", 3, false, true}},
       "INSERT INTO [T] ([A], [B], [C]) VALUES ('x', #1/2/2009#, 5)"},
      {"InsertThreeKindsDbo",
       {{true, "A", "x", 1, true, false, "T", "", true}, {true, "B", "1/2/2009", 2, false, false},
        {true, "C", "5", 3, false, true}},
       "INSERT INTO [dbo].[T] ([A], [B], [C]) VALUES ('x', '1/2/2009', 5)"},
      {"UpdateOfZone6",
       {{false, "ACTAP", "40", 3, true, false, "Master", "Service = 'TARNVEL-GND'"},
        {false, "AP", "40", 3, false, true}},
       "UPDATE [Master] SET [ACTAP] = 40, [AP] = 40 WHERE Service = 'TARNVEL-GND'"},
      {"UpdateDboReplacesEveryHash", {{false, "A", "x", 1, true, true, "T", "[Shipper#] = 3 And D < #1/2/2009#", true}},
       "UPDATE [dbo].[T] SET [A] = 'x' WHERE [Shipper'] = 3 And D < '1/2/2009'"},
      {"UpdateJetKeepsHashes", {{false, "A", "1/2/2009", 2, true, true, "T", "[Shipper#] = 3 And D < #1/2/2009#"}},
       "UPDATE [T] SET [A] = #1/2/2009# WHERE [Shipper#] = 3 And D < #1/2/2009#"},
      {"ApostropheInTextIsNotDoubled", {{false, "Name", "O'Brien", 1, true, true, "T", "ID = 1"}},
       "UPDATE [T] SET [Name] = 'O'Brien' WHERE ID = 1"},
      {"InsertFirstDiscardsPendingUpdate",
       {{false, "X", "1", 3, true, false, "U", "ID = 1"}, {true, "A", "2", 3, true, true, "T"}},
       "INSERT INTO [T] ([A]) VALUES (2)"},
      {"CompletedStatementIsNotCarriedIntoTheNext",
       {{true, "X", "1", 3, true, true, "T"}, {true, "A", "2", 3, true, true, "T"}},
       "INSERT INTO [T] ([A]) VALUES (2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i + 1 < c.calls.size(); ++i) {
      const std::string text = c.calls[i].Make();
      EXPECT_TRUE(c.calls[i].last || text.empty()) << "call " << i << ": " << text;
    }
    EXPECT_EQ(c.calls.back().Make(), c.expected);
  }
}

}  // namespace
