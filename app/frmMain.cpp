#include "frmMain.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

#include "AppInfo.h"
#include "QtUi.h"

namespace App {
namespace {

const QString kFrameCaption = QStringLiteral("Mailvoro database location:");
const QString kBrowseCaption = QStringLiteral("...");
const QString kAddCaption = QStringLiteral("Add TARN-VEL Service");
const QString kPanel1Text = QStringLiteral("Status:");

// The layout in pixels, from its design in twips at 15 twips to a pixel,
// for a font whose lines are kDesignLineHeight pixels high (Qt's default
// 9-point sans serif on a 96 dpi screen). Qt scales it on high-DPI screens.
constexpr int kDesignLineHeight = 14;
constexpr QSize kClientSize{393, 122};
constexpr QRect kFrame1{8, 8, 377, 49};
constexpr QRect kTxtPath{8, 16, 337, 21};  // inside Frame1
constexpr QRect kCmdCD{344, 16, 25, 21};   // inside Frame1
constexpr QRect kCmdAddService{88, 64, 209, 33};
constexpr int kStatusBarHeight = 17;
constexpr QRect kSBar{0, kClientSize.height() - kStatusBarHeight, kClientSize.width(), kStatusBarHeight};
constexpr QRect kPanel1{2, 0, 53, kStatusBarHeight};    // inside SBar
constexpr QRect kPanel2{61, 0, 319, kStatusBarHeight};  // inside SBar
// Room beside a caption inside its control: a label's, a push button's.
constexpr int kLabelMargin = 4;
constexpr int kButtonMargin = 12;

// How much the whole layout grows for a font: with its line height, and
// further where a caption would not fit its control; never below 1, so the
// design holds at the font it was drawn for. Growing every part evenly
// keeps the status panel's room for text as it was.
double LayoutScale(const QFontMetrics& metrics) {
  const auto widthNeed = [&](const QString& caption, int margin, int width) {
    return static_cast<double>(metrics.horizontalAdvance(caption) + margin) / width;
  };
  return std::max({1.0, static_cast<double>(metrics.height()) / kDesignLineHeight,
                   widthNeed(kFrameCaption, 2 * kButtonMargin, kFrame1.width()),
                   widthNeed(kBrowseCaption, kButtonMargin, kCmdCD.width()),
                   widthNeed(kAddCaption, kButtonMargin, kCmdAddService.width()),
                   widthNeed(kPanel1Text, kLabelMargin, kPanel1.width())});
}

// Scales each edge, so that controls that touch in the design still do.
QRect Scaled(const QRect& rect, double scale) {
  const auto edge = [scale](int value) { return static_cast<int>(std::lround(value * scale)); };
  return QRect(QPoint(edge(rect.left()), edge(rect.top())),
               QPoint(edge(rect.left() + rect.width()) - 1, edge(rect.top() + rect.height()) - 1));
}

// The sizes rendered from the scalable icon at build time.
QIcon WindowIcon() {
  QIcon icon;
  for (const QFileInfo& file : QDir(QStringLiteral(":/icon")).entryInfoList(QDir::Files)) icon.addFile(file.filePath());
  return icon;
}

// A control with its object name (which tests find it by) and the name
// assistive tools announce, if it has one of its own.
template <typename Control>
Control* Named(Control* control, const char* objectName, const QString& accessibleName = {}) {
  control->setObjectName(QLatin1String(objectName));
  if (!accessibleName.isEmpty()) control->setAccessibleName(accessibleName);
  return control;
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowIcon(WindowIcon());
  CreateControls();
  ApplyLayout();
  setTabOrder(cmdAddService_, txtPath_);
  setTabOrder(txtPath_, cmdCD_);
  for (QPushButton* button : {cmdCD_, cmdAddService_}) button->installEventFilter(this);
  connect(txtPath_, &QLineEdit::textChanged, this, [this] { form_.txtPath_Change(); });
  connect(cmdCD_, &QPushButton::clicked, this, [this] { form_.cmdCD_Click(); });
  connect(cmdAddService_, &QPushButton::clicked, this, [this] { form_.cmdAddService_Click(); });
  form_.Form_Load();
  // The add button has the focus at start; when it is disabled the next
  // in the tab order takes it.
  (cmdAddService_->isEnabled() ? static_cast<QWidget*>(cmdAddService_) : txtPath_)->setFocus();
}

void frmMain::CreateControls() {
  Frame1_ = Named(new QGroupBox(kFrameCaption, this), "Frame1", kFrameCaption);
  txtPath_ = Named(new QLineEdit(QString::fromStdString(Platform::AppInfo::DefaultHostDbPath()), Frame1_), "txtPath",
                   QStringLiteral("Mailvoro database location"));
  cmdCD_ = Named(new QPushButton(kBrowseCaption, Frame1_), "cmdCD", QStringLiteral("Browse for Mailvoro.mdb"));
  cmdAddService_ = Named(new QPushButton(kAddCaption, this), "cmdAddService", kAddCaption);
  SBar_ = Named(new QStatusBar(this), "SBar", QStringLiteral("Status"));
  SBar_->setSizeGripEnabled(false);
  // The panels are placed by ApplyLayout, not by the status bar's own
  // layout, whose fixed spacing would leave a line of text too little room.
  panel1_ = Named(new QLabel(kPanel1Text, SBar_), "SBarPanel1");
  statusPanel_ = Named(new StatusLabel(SBar_), "SBarPanel2", QStringLiteral("Status text"));
}

void frmMain::ApplyLayout() {
  const double scale = LayoutScale(fontMetrics());
  setFixedSize(Scaled(QRect(QPoint(0, 0), kClientSize), scale).size());
  Frame1_->setGeometry(Scaled(kFrame1, scale));
  txtPath_->setGeometry(Scaled(kTxtPath, scale));
  cmdCD_->setGeometry(Scaled(kCmdCD, scale));
  cmdAddService_->setGeometry(Scaled(kCmdAddService, scale));
  SBar_->setGeometry(Scaled(kSBar, scale));
  panel1_->setGeometry(Scaled(kPanel1, scale));
  statusPanel_->setGeometry(Scaled(kPanel2, scale));
}

void frmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // A new desktop font, or one from a style sheet, reaches the window here.
  if (event->type() == QEvent::FontChange) ApplyLayout();
}

void frmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  setAttribute(Qt::WA_KeyboardFocusChange);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  // QPushButton takes Return only as a dialog's default button; here each
  // button is pressed by it, through the same clicked() as a mouse click.
  // A held key presses once, as Space does.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (!key->isAutoRepeat() && button->isEnabled()) button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmMain::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

std::string frmMain::PathText() const { return txtPath_->text().toStdString(); }

void frmMain::SetPathText(const std::string& text) {
  const QString newText = QString::fromStdString(text);
  // QLineEdit reports no change for the same text, yet the file may have
  // come or gone since the last test.
  if (txtPath_->text() == newText) return form_.txtPath_Change();
  txtPath_->setText(newText);
}

void frmMain::SetAddEnabled(bool enabled) { cmdAddService_->setEnabled(enabled); }
bool frmMain::AddEnabled() const { return cmdAddService_->isEnabled(); }

}  // namespace App
