#include "MsgBox_.h"

#include <gtest/gtest.h>

#include "ScriptedUi.h"

namespace {

TEST(MsgBox_, ShowProcessFailedComposesOneExclamationBox) {
  const std::string kTail = "\r\rThe following error has occurred:\r";
  const struct {
    std::string description, messageText, title, expectedPrompt, expectedTitle;
  } cases[] = {
      {"Disk full.", "", "", "Process has failed !" + kTail + "Disk full.", "Process has failed !"},
      {"No such table.", "Could not add the service.", "Add Service",
       "Could not add the service." + kTail + "No such table.", "Add Service"},
      {"line 1\rline 2\r\nline 3", "Step failed.", "", "Step failed." + kTail + "line 1\rline 2\r\nline 3",
       "Process has failed !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectedPrompt);
    Platform::ScriptedUi ui;
    Platform::UiInstallation installed(ui);
    MsgBox_::ShowProcessFailed(c.description, c.messageText, c.title);
    ASSERT_EQ(ui.Events().size(), 1u);
    const auto& box = ui.Events().front();
    EXPECT_EQ(box.kind, Platform::UiEvent::Kind::Message);
    EXPECT_EQ(box.text, c.expectedPrompt);
    EXPECT_EQ(box.title, c.expectedTitle);
    EXPECT_EQ(box.style, 48);
  }
}

}  // namespace
