// The program's only window: the host database path with its browse
// button, the add button and the status bar. A humble object: the handlers
// pass straight to MainForm, which holds the logic.
#pragma once

#include <QWidget>

#include "MainForm.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace App {

class StatusLabel;

class frmMain final : public QWidget, private FormView {
  Q_OBJECT

 public:
  // Builds the controls with the path box holding
  // Platform::AppInfo::DefaultHostDbPath(), then runs Form_Load.
  explicit frmMain(QWidget* parent = nullptr);

  // Panel 2 of SBar, the status panel; the Qt Ui writes to it.
  StatusLabel* StatusPanel() const { return statusPanel_; }

 protected:
  void changeEvent(QEvent* event) override;
  // Shows the focus from the start, not only once the keyboard has moved
  // it: styles draw the focus frame only in a window marked as having had
  // a keyboard focus change, a mark that showing the window clears.
  void showEvent(QShowEvent* event) override;
  // Return and Enter press the push button that has the focus, as Space
  // does; anywhere else they do what they did.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  // Places the controls: the design's geometry at the font it was drawn
  // for, grown evenly for a larger font so that no caption is clipped.
  void ApplyLayout();

  // FormView
  void SetCaption(const std::string& caption) override;
  std::string PathText() const override;
  void SetPathText(const std::string& text) override;
  void SetAddEnabled(bool enabled) override;
  bool AddEnabled() const override;

  QGroupBox* Frame1_ = nullptr;
  QLineEdit* txtPath_ = nullptr;
  QPushButton* cmdCD_ = nullptr;
  QPushButton* cmdAddService_ = nullptr;
  QStatusBar* SBar_ = nullptr;
  QLabel* panel1_ = nullptr;
  StatusLabel* statusPanel_ = nullptr;
  MainForm form_{*this};
};

}  // namespace App
