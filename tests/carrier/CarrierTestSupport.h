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
inline const std::string kZoneTableSql = "CREATE TABLE [TARNVEL-GND] (LOZIP LONG, HIZIP LONG, ZONE SHORT);";

// The step's sentence of a failure box prompt (what stands before "\r\r").
inline std::string SentenceOf(const std::string& prompt) { return prompt.substr(0, prompt.find("\r\r")); }

// The error description of a failure box prompt.
inline std::string DescriptionOf(const std::string& prompt) {
  const std::string marker = "\r\rThe following error has occurred:\r";
  const auto at = prompt.find(marker);
  return at == std::string::npos ? std::string("<not a failure box>") : prompt.substr(at + marker.size());
}

// [Panel] as the host has it: one row per panel, services on SV1 to SV7.
inline std::string PanelTableSql() {
  std::string sql = "CREATE TABLE Panel (PanelIndex LONG, BD1 TEXT COLLATE NOCASE";
  for (int i = 1; i <= 7; ++i) sql += ", SV" + std::to_string(i) + " TEXT COLLATE NOCASE";
  return sql + ", Domestic SHORT, Icon SHORT, Message TEXT COLLATE NOCASE, ForeColor LONG, BackColor LONG);";
}

class CarrierFixture : public ::testing::Test {
 protected:
  CarrierFixture() { Platform::AppInfo::SetProgramFolder(dir.Path().string()); }

  std::string File(const std::string& name) const { return dir.File(name); }
  std::vector<std::string> Rows(const std::string& db, const std::string& sql) const {
    return TestSupport::QueryRows(db, sql);
  }
  std::vector<std::string> Texts(UiEvent::Kind kind) const {
    std::vector<std::string> out;
    for (const auto& e : ui.EventsOf(kind)) out.push_back(e.text);
    return out;
  }
  std::vector<std::string> Prompts() const { return Texts(UiEvent::Kind::Message); }
  std::vector<std::string> StatusTexts() const { return Texts(UiEvent::Kind::Status); }
  // Every box as "title|style|prompt", failure boxes cut to their sentence.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& e : ui.EventsOf(UiEvent::Kind::Message))
      out.push_back(e.title + "|" + std::to_string(e.style) + "|" +
                    (e.title == kFailedTitle ? SentenceOf(e.text) : e.text));
    return out;
  }
  // Checks that exactly one failure box was shown, with `sentence`, and
  // returns its error description.
  std::string FailureDescription(const std::string& sentence) const {
    const auto boxes = ui.EventsOf(UiEvent::Kind::Message);
    if (boxes.size() != 1) {
      ADD_FAILURE() << boxes.size() << " boxes shown";
      return "<no box>";
    }
    EXPECT_EQ(boxes[0].title + "|" + std::to_string(boxes[0].style), kFailedTitle + "|48");
    EXPECT_EQ(SentenceOf(boxes[0].text), sentence);
    return DescriptionOf(boxes[0].text);
  }

  TestSupport::TempDir dir;
  Platform::ScriptedUi ui;
  Platform::UiInstallation installation{ui};
};

}  // namespace CarrierTest
