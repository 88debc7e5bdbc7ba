#include "Ui.h"

namespace Platform {
namespace {

class SilentUi final : public Ui {
 public:
  int MsgBox(const std::string&, int, const std::string&) override { return kAnswerOk; }
  std::optional<std::string> InputBox(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&,
                                            const std::string&) override {
    return std::nullopt;
  }
  void SetBusy(bool) override {}
  void ShowStatus(const std::string&) override {}
};

SilentUi& Silent() {
  static SilentUi ui;
  return ui;
}

Ui* installed = nullptr;

}  // namespace

Ui& CurrentUi() { return installed ? *installed : Silent(); }

UiInstallation::UiInstallation(Ui& ui) : previous_(installed) { installed = &ui; }
UiInstallation::~UiInstallation() { installed = previous_; }

}  // namespace Platform
