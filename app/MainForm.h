// The main window's logic, without any widget: the load, path change, browse and add handlers. The Qt window
// and the unattended runner each play the FormView.
#pragma once

#include <string>

#include "Carrier.h"

namespace App {

// What the logic reads from and writes to the window.
class FormView {
 public:
  virtual ~FormView() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string PathText() const = 0;
  // Setting the text runs MainForm::txtPath_Change, as an edit by the operator does.
  virtual void SetPathText(const std::string& text) = 0;
  virtual void SetAddEnabled(bool enabled) = 0;
  virtual bool AddEnabled() const = 0;
};

// The service and the carrier's files that the add command installs.
Carrier::Service InstalledService();

// Ends a run as the add command does: the status ("Finished successfully !" or `failedText`), then the box.
void ShowOutcome(bool succeeded, const std::string& succeededText, const std::string& failedText,
                 const std::string& title);

enum class AddOutcome { Succeeded, Failed, ProcessFailed };

class MainForm {
 public:
  explicit MainForm(FormView& view) : view_(view) {}

  // Enables the add button only for an existing file (else empties the path box); sets the caption.
  void Form_Load();
  void txtPath_Change();
  // The open-file dialog; a cancelled dialog changes nothing.
  void cmdCD_Click();
  // One whole installation. Never throws.
  AddOutcome cmdAddService_Click();
  // What the steps of the last installation did.
  const std::vector<Carrier::Item>& Told() { return told_.Items(); }

 private:
  // The installation steps and the final report; run-time errors pass out.
  bool AddService();

  FormView& view_;
  std::string dialogFileName_;  // the dialog's file name lives as long as the window
  Carrier::Report told_;
};

}  // namespace App
