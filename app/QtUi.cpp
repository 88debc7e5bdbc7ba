#include "QtUi.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "AppInfo.h"

namespace App {
namespace {

// The texts keep their CRs; only what is shown breaks lines at them.
QString ForDisplay(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QMessageBox::Icon IconOf(int style) {
  switch (style & 0xF0) {
    case Platform::kMbCritical: return QMessageBox::Critical;
    case Platform::kMbQuestion: return QMessageBox::Question;
    case Platform::kMbExclamation: return QMessageBox::Warning;
    case Platform::kMbInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

// The operator answers a dialog with the mouse, so the arrow shows over it
// even while the wait cursor is up; the status is painted before it opens.
class QtUi::Modal {
 public:
  explicit Modal(QtUi& ui) : arrow_(ui.busyDepth_ > 0) {
    ui.FlushStatus();
    if (arrow_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~Modal() {
    if (arrow_) QApplication::restoreOverrideCursor();
  }
  Modal(const Modal&) = delete;
  Modal& operator=(const Modal&) = delete;

 private:
  const bool arrow_;
};

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void StatusLabel::SetStatus(const QString& status) {
  status_ = ForDisplay(status);
  ShowStatus();
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  ShowStatus();
}

void StatusLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) ShowStatus();
}

void StatusLabel::ShowStatus() {
  const QString line = QString(status_).replace(QLatin1Char('\n'), QLatin1Char(' '));
  const int room = contentsRect().width() - 2 * margin();
  const QString shown = fontMetrics().elidedText(line, Qt::ElideMiddle, std::max(room, 0));
  setText(shown);
  // The tooltip shows the text as it is, line breaks and spaces and all,
  // and wraps it; as rich text, so that a status that looks like markup is
  // never taken for it.
  setToolTip(shown == line ? QString()
                           : QStringLiteral("<p style=\"white-space:pre-wrap\">") + status_.toHtmlEscaped() +
                                 QStringLiteral("</p>"));
}

QtUi::QtUi() {
  flushTimer_.setSingleShot(true);
  flushTimer_.callOnTimeout([this] { PaintStatus(); });
}

void QtUi::SetWindow(QWidget* window) { window_ = window; }

void QtUi::SetStatusPanel(StatusLabel* panel) { panel_ = panel; }

QWidget* QtUi::DialogParent() const { return window_ ? window_.data() : QApplication::activeWindow(); }

int QtUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
  const Modal modal(*this);
  QMessageBox box(DialogParent());
  box.setWindowTitle(QString::fromStdString(Platform::AppInfo::BoxTitle(title)));
  box.setTextFormat(Qt::PlainText);
  box.setText(ForDisplay(QString::fromStdString(prompt)));
  box.setIcon(IconOf(style));
  const bool okCancel = (style & 0x0F) == Platform::kMbOkCancel;
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  QPushButton* cancel = okCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
  box.setDefaultButton(ok);
  box.setEscapeButton(okCancel ? cancel : ok);
  box.exec();
  if (!okCancel) return Platform::kAnswerOk;
  return box.clickedButton() == ok ? Platform::kAnswerOk : Platform::kAnswerCancel;
}

std::optional<std::string> QtUi::InputBox(const std::string& prompt, const std::string& title) {
  const Modal modal(*this);
  QInputDialog dialog(DialogParent());
  dialog.setWindowTitle(QString::fromStdString(Platform::AppInfo::BoxTitle(title)));
  dialog.setLabelText(ForDisplay(QString::fromStdString(prompt)));
  for (auto* label : dialog.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::optional<std::string> QtUi::OpenFileDialog(const std::string& title, const std::string& filterDescription,
                                                const std::string&, const std::string& fileName) {
  const Modal modal(*this);
  QFileDialog dialog(DialogParent(), QString::fromStdString(title));
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Qt reads the pattern from the parentheses that end the filter text.
  dialog.setNameFilter(QString::fromStdString(filterDescription));
  if (!fileName.empty()) dialog.selectFile(QString::fromStdString(fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(dialog.selectedFiles().constFirst()).toStdString();
}

void QtUi::ShowStatus(const std::string&) {
  if (!sinceLastPaint_.isValid() || sinceLastPaint_.elapsed() >= kStatusPaintIntervalMs) {
    PaintStatus();
  } else if (!flushTimer_.isActive()) {
    flushTimer_.start(kStatusPaintIntervalMs - static_cast<int>(sinceLastPaint_.elapsed()));
  }
}

void QtUi::FlushStatus() {
  if (flushTimer_.isActive()) PaintStatus();
}

void QtUi::PaintStatus() {
  flushTimer_.stop();
  sinceLastPaint_.start();
  if (!panel_) return;
  panel_->SetStatus(QString::fromStdString(StatusText()));
  // Painted now: the steps do not return to the event loop while they run.
  panel_->repaint();
}

void QtUi::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
    return;
  }
  FlushStatus();
  if (busyDepth_ == 0) return;
  --busyDepth_;
  QApplication::restoreOverrideCursor();
}

}  // namespace App
