// Shared by the carrier's scenario tests: a program folder of its own in a
// fresh temporary folder, the scripted Ui installed for the test, host
// database fixtures from SQL text, and readers of what the Ui recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppInfo.h"
#include "ScriptedUi.h"
#include "TestSupport.h"

namespace CarrierTest {

using Platform::UiEvent;

inline const std::string kFailedTitle = "Process has failed !";

// The prompt of the failure box for a step's sentence and an error.
inline std::string FailureBox(const std::string& messageText, const std::string& description) {
  return messageText + "\r\rThe following error has occurred:\r" + description;
}

// The step's sentence of a failure box prompt (what stands before "\r\r").
inline std::string SentenceOf(const std::string& prompt) { return prompt.substr(0, prompt.find("\r\r")); }

// The error description of a failure box prompt.
inline std::string DescriptionOf(const std::string& prompt) {
  const std::string marker = "The following error has occurred:\r";
  const auto at = prompt.find(marker);
  return at == std::string::npos ? std::string("<not a failure box>") : prompt.substr(at + marker.size());
}

// [Panel] as the host has it: one row per panel, services on SV1 to SV7.
inline std::string PanelTableSql() {
  return "CREATE TABLE Panel (PanelIndex LONG, BD1 TEXT COLLATE NOCASE, SV1 TEXT COLLATE NOCASE,"
         " SV2 TEXT COLLATE NOCASE, SV3 TEXT COLLATE NOCASE, SV4 TEXT COLLATE NOCASE, SV5 TEXT COLLATE NOCASE,"
         " SV6 TEXT COLLATE NOCASE, SV7 TEXT COLLATE NOCASE, Domestic SHORT, Icon SHORT,"
         " Message TEXT COLLATE NOCASE, ForeColor LONG, BackColor LONG);";
}

class CarrierFixture : public ::testing::Test {
 protected:
  CarrierFixture() { Platform::AppInfo::SetProgramFolder(dir.Path().string()); }

  std::string File(const std::string& name) const { return dir.File(name); }

  std::vector<std::string> Prompts() const {
    std::vector<std::string> out;
    for (const auto& e : ui.EventsOf(UiEvent::Kind::Message)) out.push_back(e.text);
    return out;
  }
  std::vector<std::string> StatusTexts() const {
    std::vector<std::string> out;
    for (const auto& e : ui.EventsOf(UiEvent::Kind::Status)) out.push_back(e.text);
    return out;
  }
  std::vector<std::string> Rows(const std::string& db, const std::string& sql) const {
    return TestSupport::QueryRows(db, sql);
  }

  TestSupport::TempDir dir;
  Platform::ScriptedUi ui;
  Platform::UiInstallation installation{ui};
};

}  // namespace CarrierTest
