// Whole installations into a shop whose [Panel].Domestic, [Master].ACTAP
// and [Master].AP are Yes/No columns and whose template service holds a
// zero-length binary value: True is stored as -1 and the empty value stays
// empty, whether the clone's recordset, the [Panel] INSERT or the zone 6
// UPDATE writes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

TEST(TypedShop, YesNoAndEmptyBinaryThroughWholeInstallations) {
  const char* programDir = std::getenv("ATV_PROGRAM_DIR");
  if (!programDir) GTEST_SKIP() << "ATV_PROGRAM_DIR is not set";
  const fs::path bin = programDir;
  TestSupport::TempDir dir;
  const fs::path program = dir.Path() / "program";
  fs::create_directories(program);
  for (const char* name : {"TarnVel_Zones_Empty.mdb", "TarnVel_Services.mdb", "TarnVelEODManifest.rpt",
                           "TarnVel.jpg", "TarnVel_Generic.lab", "Data"})
    fs::copy(bin / name, program / name, fs::copy_options::recursive);
  const std::string host = dir.File("Mailvoro.mdb"), dbquery = "'" + (bin / "dbquery").string() + "' ";
  ASSERT_EQ(std::system((dbquery + "--init '" + host + "' '" ATV_SOURCE_DIR "/tests/tools/yesno-shop.sql'").c_str()), 0);
  const std::string install = "'" + (bin / "addtarnvel-cli").string() + "' --yes --zip 10001 --program-folder '" +
                              program.string() + "' '" + host + "' >/dev/null";
  const std::string added = "SELECT ACTAP, AP, quote(Logo) FROM Master WHERE Service = 'TARNVEL-GND'";

  ASSERT_EQ(std::system(install.c_str()), 0) << "the first run adds the service";
  EXPECT_EQ(TestSupport::QueryRows(host, added), Rows{"-1|-1|X''"});
  EXPECT_EQ(TestSupport::QueryRows(host, "SELECT Domestic FROM Panel WHERE SV1 = 'TARNVEL-GND'"), Rows{"-1"});

  ASSERT_EQ(std::system((dbquery + "'" + host + "' 'UPDATE [Master] SET [ACTAP] = 0, [AP] = 0'").c_str()), 0);
  ASSERT_EQ(std::system(install.c_str()), 0) << "the second run sets zone 6";
  EXPECT_EQ(TestSupport::QueryRows(host, added), Rows{"-1|-1|X''"});
  EXPECT_EQ(TestSupport::QueryRows(host, "SELECT count(*) FROM Panel"), Rows{"2"});
}

}  // namespace
