// The window, offscreen, with the scripted Ui: its start-up, the path box's
// change handler, the browse button, the add button's wiring, tab order,
// names, size, and captions that fit at any font size.
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

  void startsWithTheDefaultFileOrAnEmptyPath();
  void typingEnablesAddExactlyWhenTextNamesAFile();
  void browsePutsChosenFileIntoPathBox();
  void addButtonRunsTheAddCommand();
  void tabOrderStartsAtAddButton();
  void captionsFitAtAnyFont_data();
  void captionsFitAtAnyFont();

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

void frmMainTest::startsWithTheDefaultFileOrAnEmptyPath() {
  MakeWindow();
  QCOMPARE(window_->windowTitle(), QStringLiteral("Add TARN-VEL Service 1.0.3"));
  QVERIFY(!window_->windowIcon().isNull());
  QCOMPARE(Find<QLabel>("SBarPanel1")->text(), QStringLiteral("Status:"));
  QCOMPARE(Find<QLabel>("SBarPanel2")->text(), QString());
  QCOMPARE(Find<QLineEdit>("txtPath")->text(), QString::fromStdString(hostDb_));
  QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());
  QCOMPARE(window_->focusWidget(), Find<QPushButton>("cmdAddService"));
  QCOMPARE(window_->objectName(), QStringLiteral("frmMain"));
  QCOMPARE(window_->size(), QSize(393, 122));
  QCOMPARE(window_->minimumSize(), window_->maximumSize());
  QCOMPARE(Find<QLineEdit>("txtPath")->parentWidget(), Find<QGroupBox>("Frame1"));
  QCOMPARE(Find<QPushButton>("cmdCD")->accessibleName(), QStringLiteral("Browse for Mailvoro.mdb"));
  QCOMPARE(Find<QStatusBar>("SBar")->accessibleName(), QStringLiteral("Status"));

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
  QTest::keyClicks(path, "x");
  QVERIFY(!add->isEnabled());
  QTest::keyClick(path, Qt::Key_Backspace);
  QVERIFY(add->isEnabled());
  path->selectAll();
  QTest::keyClick(path, Qt::Key_Delete);
  QVERIFY(!add->isEnabled());
  // Any name will do, but not a folder.
  TestSupport::WriteFile(dir_->File("shop backup.dat"), "not a database");
  path->setText(QString::fromStdString(dir_->File("shop backup.dat")));
  QVERIFY(add->isEnabled());
  path->setText(QString::fromStdString(dir_->Path().string()));
  QVERIFY(!add->isEnabled());
}

void frmMainTest::browsePutsChosenFileIntoPathBox() {
  Platform::AppInfo::SetDefaultHostDbPath("");
  MakeWindow();
  auto* path = Find<QLineEdit>("txtPath");
  ui_->fileDialogAnswers = {hostDb_, std::nullopt};
  for (int click = 0; click < 2; ++click) {  // the second is cancelled and changes nothing
    QTest::mouseClick(Find<QPushButton>("cmdCD"), Qt::LeftButton);
    QCOMPARE(path->text(), QString::fromStdString(hostDb_));
    QVERIFY(Find<QPushButton>("cmdAddService")->isEnabled());
  }
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
  for (const char* name : {"cmdAddService", "txtPath", "cmdCD", "cmdAddService"}) {
    QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

void frmMainTest::captionsFitAtAnyFont_data() {
  QTest::addColumn<QFont>("font");
  for (const int points : {7, 9, 11, 13, 16, 24}) QTest::addRow("sans %d pt", points) << QFont("Sans Serif", points);
  QTest::addRow("monospace 13 pt") << QFont("Monospace", 13);
}

// The window's font changes after it is built, as a desktop's or a style
// sheet's does. Each caption must keep the room its text needs, every
// control must stay inside its parent, and up to the default font the
// window keeps its designed size.
void frmMainTest::captionsFitAtAnyFont() {
  QFETCH(QFont, font);
  MakeWindow();
  const QSize designed = window_->size();
  Find<QLabel>("SBarPanel2")->setText("Failed to add TARN-VEL service...");
  window_->setFont(font);
  const QFontMetrics metrics(font);
  const auto* frame = Find<QGroupBox>("Frame1");
  QVERIFY2(Find<QLineEdit>("txtPath")->y() >= metrics.height(), "the frame's caption runs into the path box");
  const struct {
    const QWidget* control;
    QString text;
    int margin;  // the control's own frame and padding, at least
  } rows[] = {
      {frame, frame->title(), 0},
      {Find<QLineEdit>("txtPath"), "Mailvoro", 4},
      {Find<QPushButton>("cmdCD"), "...", 4},
      {Find<QPushButton>("cmdAddService"), "Add TARN-VEL Service", 4},
      {Find<QLabel>("SBarPanel1"), "Status:", 0},
      {Find<QLabel>("SBarPanel2"), Find<QLabel>("SBarPanel2")->text(), 0},
  };
  for (const auto& row : rows) {
    const QSize need = metrics.size(Qt::TextSingleLine, row.text) + QSize(row.margin, row.margin);
    const QRect room = row.control->geometry();
    QVERIFY2(room.width() >= need.width() && room.height() >= need.height(),
             qPrintable(QString("%1 is %2x%3 for \"%4\", which needs %5x%6").arg(row.control->objectName())
                            .arg(room.width()).arg(room.height()).arg(row.text).arg(need.width()).arg(need.height())));
    QVERIFY2(row.control->parentWidget()->rect().contains(room), qPrintable(row.control->objectName() + " sticks out"));
  }
  if (QFontInfo(font).pointSize() <= QFontInfo(QApplication::font()).pointSize()) QCOMPARE(window_->size(), designed);
}

QTEST_MAIN(frmMainTest)
#include "frmMain_qtest.moc"
