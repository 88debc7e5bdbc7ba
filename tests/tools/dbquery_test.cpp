// The command-line tools run as built programs, on the cases of cases.json
// beside this file: dbquery's output forms, and whole installations into a
// shop with Yes/No columns.
#include <gtest/gtest.h>

#include "Scenario.h"

TEST(Tools, Cases) { Scenario::RunFile(ATV_CASES_DIR "/cases.json", {}); }
