// The window, offscreen, with the scripted Ui: its start-up, the path box's
// change handler, the browse button, the add button's wiring, tab order,
// names and geometry.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>
#include <memory>

#include "AppInfo.h"
#include "ScriptedUi.h"
#include "TestSupport.h"
#include "frmMain.h"

using Platform::UiEvent;

class frmMainTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void startsWithVersionInCaption();
  void defaultFilePresentEnablesAndFocusesAdd();
  void defaultFileMissingEmptiesPathAndDisablesAdd();
  void typingEnablesAddExactlyWhenTextNamesAFile();
  void fileOfAnotherNameEnablesAdd();
  void browsePutsChosenFileIntoPathBox();
  void addButtonRunsTheAddCommand();
  void tabOrderStartsAtAddButton();
  void namesAndGeometry();

 private:
  template <typename T>
  T* Find(const QString& name) {
    auto* widget = window_->findChild<T*>(name);
    if (!widget) qFatal("no control named %s", qPrintable(name));
    return widget;
  }
  void MakeWindow() { window_ = std::make_unique<App::frmMain>(); }

  std::unique_ptr<TestSupport::TempDir> dir_;
  std::unique_ptr<Platform::ScriptedUi> ui_;
  std::unique_ptr<Platform::UiInstallation> installation_;
  std::unique_ptr<App::frmMain> window_;
  std::string hostDb_;
};

void frmMainTest::init() {
  dir_ = std::make_unique<TestSupport::TempDir>();
  hostDb_ = dir_->File("Mailvoro.mdb");
  TestSupport::WriteFile(hostDb_, "");
  ui_ = std::make_unique<Platform::ScriptedUi>();
  installation_ = std::make_unique<Platform::UiInstallation>(*ui_);
  Platform::AppInfo::SetDefaultHostDbPath(hostDb_);
}

void frmMainTest::cleanup() {
  window_.reset();
  installation_.reset();
  ui_.reset();
  dir_.reset();
}

void frmMainTest::startsWithVersionInCaption() {
  MakeWindow();
  QCOMPARE(window_->windowTitle(), QStringLiteral("Add TARN-VEL Service 1.0.3"));
  QVERIFY(!window_->windowIcon().isNull());
  QCOMPARE(Find<QLabel>("SBarPanel1")->text(), QStringLiteral("Status:"));
  QCOMPARE(Find<QLabel>("SBarPanel2")->text(), QString());
}

void frmMainTest::defaultFilePresentEnablesAndFocusesAdd() {
  MakeWindow();
  QCOMPARE(Find<QLineEdit>("txtPath")->text(), QString::fromStdString(hostDb_));
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());
  QCOMPARE(window_->focusWidget(), Find<QPushButton>("cmdAddService"));
}

void frmMainTest::defaultFileMissingEmptiesPathAndDisablesAdd() {
  Platform::AppInfo::SetDefaultHostDbPath(dir_->File("nowhere/Mailvoro.mdb"));
  MakeWindow();
  QCOMPARE(Find<QLineEdit>("txtPath")->text(), QString());
  QVERIFY(!Find<QPushButton>("cmdAddService")->isEnabled());
}

void frmMainTest::typingEnablesAddExactlyWhenTextNamesAFile() {
  Platform::AppInfo::SetDefaultHostDbPath("");
  MakeWindow();
  auto* path = Find<QLineEdit>("txtPath");
  auto* add = Find<QPushButton>("cmdAddService");
  const QString target = QString::fromStdString(hostDb_);
  for (const QChar c : target) {
    QTest::keyClicks(path, QString(c));
    QCOMPARE(add->isEnabled(), path->text() == target);
  }
  QVERIFY(add->isEnabled());
  QTest::keyClicks(path, "x");
  QVERIFY(!add->isEnabled());
  QTest::keyClick(path, Qt::Key_Backspace);
  QVERIFY(add->isEnabled());
  path->selectAll();
  QTest::keyClick(path, Qt::Key_Delete);
  QCOMPARE(path->text(), QString());
  QVERIFY(!add->isEnabled());
}

void frmMainTest::fileOfAnotherNameEnablesAdd() {
  Platform::AppInfo::SetDefaultHostDbPath("");
  MakeWindow();
  const std::string other = dir_->File("shop backup.dat");
  TestSupport::WriteFile(other, "not a database");
  Find<QLineEdit>("txtPath")->setText(QString::fromStdString(other));
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());
  Find<QLineEdit>("txtPath")->setText(QString::fromStdString(dir_->Path().string()));
  QVERIFY2(!Find<QPushButton>("cmdAddService")->isEnabled(), "a folder is not a file");
}

void frmMainTest::browsePutsChosenFileIntoPathBox() {
  Platform::AppInfo::SetDefaultHostDbPath("");
  MakeWindow();
  auto* path = Find<QLineEdit>("txtPath");
  ui_->fileDialogAnswers = {hostDb_, std::nullopt};

  QTest::mouseClick(Find<QPushButton>("cmdCD"), Qt::LeftButton);
  QCOMPARE(path->text(), QString::fromStdString(hostDb_));
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());

  QTest::mouseClick(Find<QPushButton>("cmdCD"), Qt::LeftButton);
  QCOMPARE(path->text(), QString::fromStdString(hostDb_));
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());

  const auto dialogs = ui_->EventsOf(UiEvent::Kind::FileDialog);
  QCOMPARE(dialogs.size(), std::size_t{2});
  QCOMPARE(dialogs[0].title, std::string("Locate Mailvoro.mdb"));
  QCOMPARE(dialogs[0].text, std::string("Mailvoro Database (Mailvoro.mdb)|Mailvoro.mdb"));
}

void frmMainTest::addButtonRunsTheAddCommand() {
  MakeWindow();
  QTest::mouseClick(Find<QPushButton>("cmdAddService"), Qt::LeftButton);  // the ZIP question is cancelled
  QCOMPARE(ui_->StatusText(), std::string("Failed to add TARN-VEL service..."));
  const auto messages = ui_->EventsOf(UiEvent::Kind::Message);
  QCOMPARE(messages.size(), std::size_t{1});
  QCOMPARE(messages[0].style, 16);
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());
}

void frmMainTest::tabOrderStartsAtAddButton() {
  MakeWindow();
  window_->show();
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  const QStringList expected = {"cmdAddService", "txtPath", "cmdCD", "cmdAddService"};
  for (int i = 0; i < expected.size(); ++i) {
    QCOMPARE(QApplication::focusWidget()->objectName(), expected[i]);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

void frmMainTest::namesAndGeometry() {
  MakeWindow();
  QCOMPARE(window_->objectName(), QStringLiteral("frmMain"));
  QCOMPARE(window_->size(), QSize(393, 122));
  QCOMPARE(window_->minimumSize(), window_->maximumSize());
  QCOMPARE(Find<QGroupBox>("Frame1")->geometry(), QRect(8, 8, 377, 49));
  QCOMPARE(Find<QGroupBox>("Frame1")->title(), QStringLiteral("Mailvoro database location:"));
  QCOMPARE(Find<QLineEdit>("txtPath")->parentWidget()->objectName(), QStringLiteral("Frame1"));
  QCOMPARE(Find<QLineEdit>("txtPath")->geometry(), QRect(8, 16, 337, 21));
  QCOMPARE(Find<QPushButton>("cmdCD")->geometry(), QRect(344, 16, 25, 21));
  QCOMPARE(Find<QPushButton>("cmdCD")->accessibleName(), QStringLiteral("Browse for Mailvoro.mdb"));
  QCOMPARE(Find<QPushButton>("cmdAddService")->geometry(), QRect(88, 64, 209, 33));
  QCOMPARE(Find<QPushButton>("cmdAddService")->text(), QStringLiteral("Add TARN-VEL Service"));
  QCOMPARE(Find<QStatusBar>("SBar")->geometry(), QRect(0, 105, 393, 17));
  QCOMPARE(Find<QStatusBar>("SBar")->accessibleName(), QStringLiteral("Status"));
  QCOMPARE(Find<QLabel>("SBarPanel1")->width(), 53);
  QCOMPARE(Find<QLabel>("SBarPanel2")->width(), 319);
}

QTEST_MAIN(frmMainTest)
#include "frmMain_qtest.moc"
