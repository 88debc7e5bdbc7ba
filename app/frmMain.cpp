#include "frmMain.h"

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>

#include "AddTarnVel.xpm"
#include "AppInfo.h"

namespace App {
namespace {

// The layout in pixels, from its design in twips at 15 twips to a pixel;
// Qt scales it on high-DPI screens.
constexpr QSize kClientSize{393, 122};
constexpr QRect kFrame1{8, 8, 377, 49};
constexpr QRect kTxtPath{8, 16, 337, 21};  // inside Frame1
constexpr QRect kCmdCD{344, 16, 25, 21};   // inside Frame1
constexpr QRect kCmdAddService{88, 64, 209, 33};
constexpr int kStatusBarHeight = 17;
constexpr int kPanel1Width = 53;
constexpr int kPanel2Width = 319;

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Add TARN-VEL Service"));
  setWindowIcon(QIcon(QPixmap(AddTarnVel_xpm)));
  setFixedSize(kClientSize);
  CreateFrame();
  CreateAddButton();
  CreateStatusBar();
  SetTabOrder();
  ConnectHandlers();
  Form_Load();
  // The add button has the focus at start; when it is disabled the next
  // in the tab order takes it.
  (cmdAddService_->isEnabled() ? static_cast<QWidget*>(cmdAddService_) : txtPath_)->setFocus();
}

void frmMain::CreateFrame() {
  Frame1_ = new QGroupBox(QStringLiteral("Mailvoro database location:"), this);
  Frame1_->setObjectName(QStringLiteral("Frame1"));
  Frame1_->setAccessibleName(QStringLiteral("Mailvoro database location:"));
  Frame1_->setGeometry(kFrame1);

  txtPath_ = new QLineEdit(QString::fromStdString(Platform::AppInfo::DefaultHostDbPath()), Frame1_);
  txtPath_->setObjectName(QStringLiteral("txtPath"));
  txtPath_->setAccessibleName(QStringLiteral("Mailvoro database location"));
  txtPath_->setGeometry(kTxtPath);

  cmdCD_ = new QPushButton(QStringLiteral("..."), Frame1_);
  cmdCD_->setObjectName(QStringLiteral("cmdCD"));
  cmdCD_->setAccessibleName(QStringLiteral("Browse for Mailvoro.mdb"));
  cmdCD_->setGeometry(kCmdCD);
}

void frmMain::CreateAddButton() {
  cmdAddService_ = new QPushButton(QStringLiteral("Add TARN-VEL Service"), this);
  cmdAddService_->setObjectName(QStringLiteral("cmdAddService"));
  cmdAddService_->setAccessibleName(QStringLiteral("Add TARN-VEL Service"));
  cmdAddService_->setGeometry(kCmdAddService);
}

void frmMain::CreateStatusBar() {
  SBar_ = new QStatusBar(this);
  SBar_->setObjectName(QStringLiteral("SBar"));
  SBar_->setAccessibleName(QStringLiteral("Status"));
  SBar_->setSizeGripEnabled(false);

  auto* panel1 = new QLabel(QStringLiteral("Status:"), SBar_);
  panel1->setObjectName(QStringLiteral("SBarPanel1"));
  panel1->setFixedWidth(kPanel1Width);
  statusPanel_ = new QLabel(SBar_);
  statusPanel_->setObjectName(QStringLiteral("SBarPanel2"));
  statusPanel_->setAccessibleName(QStringLiteral("Status text"));
  statusPanel_->setTextFormat(Qt::PlainText);
  statusPanel_->setFixedWidth(kPanel2Width);
  SBar_->addWidget(panel1);
  SBar_->addWidget(statusPanel_);

  SBar_->setFixedHeight(kStatusBarHeight);
  SBar_->setGeometry(0, kClientSize.height() - kStatusBarHeight, kClientSize.width(), kStatusBarHeight);
}

void frmMain::SetTabOrder() {
  setTabOrder(cmdAddService_, txtPath_);
  setTabOrder(txtPath_, cmdCD_);
}

void frmMain::ConnectHandlers() {
  connect(txtPath_, &QLineEdit::textChanged, this, &frmMain::txtPath_Change);
  connect(cmdCD_, &QPushButton::clicked, this, &frmMain::cmdCD_Click);
  connect(cmdAddService_, &QPushButton::clicked, this, &frmMain::cmdAddService_Click);
}

void frmMain::Form_Load() { form_.Form_Load(); }
void frmMain::txtPath_Change() { form_.txtPath_Change(); }
void frmMain::cmdCD_Click() { form_.cmdCD_Click(); }
void frmMain::cmdAddService_Click() { form_.cmdAddService_Click(); }

void frmMain::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

std::string frmMain::PathText() const { return txtPath_->text().toStdString(); }

void frmMain::SetPathText(const std::string& text) {
  const QString newText = QString::fromStdString(text);
  // QLineEdit reports no change for the same text, yet the file may have
  // come or gone since the last test.
  if (txtPath_->text() == newText) {
    txtPath_Change();
  } else {
    txtPath_->setText(newText);
  }
}

void frmMain::SetAddEnabled(bool enabled) { cmdAddService_->setEnabled(enabled); }
bool frmMain::AddEnabled() const { return cmdAddService_->isEnabled(); }

}  // namespace App
