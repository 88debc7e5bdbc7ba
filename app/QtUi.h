// The Qt side of the platform seam: message boxes, the input box and the
// open-file dialog as modal Qt dialogs, the status panel as a label in the
// window's status bar, and the busy pointer as Qt's application-wide wait
// cursor.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <optional>
#include <string>

#include "Ui.h"

class QWidget;

namespace App {

// The status panel: one line of plain text. A status wider than the panel
// is shown cut in the middle with an ellipsis, so that both its start (what
// it is about) and its end (what became of it, a reason, a count) stay in
// view while its middle, where a quoted path sits, gives way; it is cut
// anew whenever the panel's width or font changes, and while it is cut the
// whole text is the panel's tooltip. Line breaks show as spaces on the one
// line.
class StatusLabel final : public QLabel {
 public:
  explicit StatusLabel(QWidget* parent = nullptr);
  // The whole status; text() is the line shown.
  void SetStatus(const QString& status);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ShowStatus();

  QString status_;
};

class QtUi final : public Platform::Ui {
 public:
  // Status texts are painted at most once per this interval while they
  // come fast; the latest one is always painted in the end.
  static constexpr int kStatusPaintIntervalMs = 33;

  // Needs the QApplication to exist.
  QtUi();
  QtUi(const QtUi&) = delete;
  QtUi& operator=(const QtUi&) = delete;

  // The window the dialogs are modal to (else the active window), and the
  // panel that shows the status text (else the text is only kept).
  void SetWindow(QWidget* window);
  void SetStatusPanel(StatusLabel* panel);

  // Escape or the close button answer Cancel on an OK and Cancel box, else
  // OK. Each CR in a prompt shows as a line break.
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title) override;
  std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filterDescription,
                                            const std::string& filterPattern, const std::string& fileName) override;
  // Busy pushes the wait cursor, default pops it; unbalanced calls to
  // default are ignored. Dialogs shown while busy show the arrow.
  void SetBusy(bool busy) override;

  // Paints the latest status text now if it is not painted yet.
  void FlushStatus();

 private:
  class Modal;

  // Paints at once, even while a step runs without returning to the event
  // loop, unless the last paint was less than the interval ago; then the
  // text is painted by the next write after the interval, a dialog, the end
  // of the busy pointer or the event loop, whichever comes first.
  void ShowStatus(const std::string& text) override;
  QWidget* DialogParent() const;
  void PaintStatus();

  QPointer<QWidget> window_;
  QPointer<StatusLabel> panel_;
  QElapsedTimer sinceLastPaint_;
  QTimer flushTimer_;  // runs while a status text waits to be painted
  int busyDepth_ = 0;
};

}  // namespace App
