// The add command's own trap: an error escaping a step ends in the
// failure box, the status panel keeps its text, and the pointer comes back.
#include "MainForm.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "RunError.h"
#include "ScriptedUi.h"
#include "TestSupport.h"

namespace {

using Platform::UiEvent;

class FakeView final : public App::FormView {
 public:
  explicit FakeView(std::string path) : path_(std::move(path)) {}
  void SetCaption(const std::string&) override {}
  std::string PathText() const override { return path_; }
  void SetPathText(const std::string& text) override { path_ = text; }
  void SetAddEnabled(bool enabled) override { enabled_ = enabled; }
  bool AddEnabled() const override { return enabled_; }

 private:
  std::string path_;
  bool enabled_ = true;
};

// The scripted Ui, except that writing one chosen status text throws.
class FailingStatusUi final : public Platform::Ui {
 public:
  FailingStatusUi(std::string failingText, std::function<void()> thrower)
      : failingText_(std::move(failingText)), thrower_(std::move(thrower)) {}
  Platform::ScriptedUi scripted;

  int MsgBox(const std::string& p, int s, const std::string& t) override { return scripted.MsgBox(p, s, t); }
  std::optional<std::string> InputBox(const std::string& p, const std::string& t) override {
    return scripted.InputBox(p, t);
  }
  std::optional<std::string> OpenFileDialog(const std::string& t, const std::string& d, const std::string& p,
                                            const std::string& f) override {
    return scripted.OpenFileDialog(t, d, p, f);
  }
  void SetStatusText(const std::string& text) override {
    if (text == failingText_) thrower_();
    scripted.SetStatusText(text);
  }
  std::string StatusText() const override { return scripted.StatusText(); }
  void SetBusy(bool busy) override { scripted.SetBusy(busy); }

 private:
  std::string failingText_;
  std::function<void()> thrower_;
};

TEST(AddCommand, ErrorEscapingAStepShowsTheFailureBoxAndRestoresThePointer) {
  const struct {
    const char* name;
    std::function<void()> thrower;
    std::string description;
  } rows[] = {
      {"run-time error", [] { throw Platform::RunError(70, "Permission denied: '/shop/TarnVel.jpg'"); },
       "Permission denied: '/shop/TarnVel.jpg'"},
      {"other exception", [] { throw std::length_error("string too long"); }, "string too long"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSupport::TempDir dir;
    TestSupport::WriteFile(dir.File("Mailvoro.mdb"), "");
    // The ZIP question is cancelled, so the chain ends at once and the
    // command's own status write is what throws.
    FailingStatusUi ui("Failed to add TARN-VEL service...", row.thrower);
    Platform::UiInstallation installation(ui);
    FakeView view(dir.File("Mailvoro.mdb"));
    App::MainForm form(view);

    EXPECT_EQ(form.cmdAddService_Click(), App::AddOutcome::ProcessFailed);

    const auto& events = ui.scripted.Events();  // no status text among them
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[0].kind == UiEvent::Kind::Pointer && events[0].flag);
    EXPECT_EQ(events[1].kind, UiEvent::Kind::Input);
    EXPECT_EQ(events[2].kind, UiEvent::Kind::Message);
    EXPECT_EQ(events[2].title + "|" + std::to_string(events[2].style) + "|" + events[2].text,
              "Process has failed !|48|Failed to add the service...\r\rThe following error has occurred:\r" +
                  row.description);
    EXPECT_TRUE(events[3].kind == UiEvent::Kind::Pointer && !events[3].flag) << "the pointer must come back";
  }
}

}  // namespace
