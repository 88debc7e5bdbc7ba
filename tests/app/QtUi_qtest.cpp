// The Qt Ui: message box styles, titles and answers, the input box, the
// status panel's painting and the busy pointer.
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "QtUi.h"

namespace {

enum class Action { ClickOk, ClickCancel, Escape, Close };

// Runs `act` on the first modal dialog of type T once it is shown.
template <typename T>
void WhenShown(std::function<void(T*)> act) {
  QTimer::singleShot(10, [act] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(dialog);
    } else {
      WhenShown<T>(act);
    }
  });
}

}  // namespace

class QtUiTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxStyles_data();
  void messageBoxStyles();
  void inputBox_data();
  void inputBox();
  void statusPanelAndPointer();
};

void QtUiTest::messageBoxStyles_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("action");
  QTest::addColumn<int>("icon");
  QTest::addColumn<int>("buttons");
  QTest::addColumn<QString>("shownTitle");
  QTest::addColumn<int>("answer");
  const int ok = QMessageBox::Ok;
  const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
  auto row = [](const char* name, int style, const char* title, Action action, QMessageBox::Icon icon, int buttons,
                const char* shownTitle, int answer) {
    QTest::newRow(name) << style << QString(title) << int(action) << int(icon) << buttons << QString(shownTitle)
                        << answer;
  };
  row("0 OK, no title of its own", 0, "", Action::ClickOk, QMessageBox::NoIcon, ok, "AddTarnVel", 1);
  row("0 OK, Escape answers OK", 0, "T", Action::Escape, QMessageBox::NoIcon, ok, "T", 1);
  row("1 OK and Cancel, OK", 1, "T", Action::ClickOk, QMessageBox::NoIcon, okCancel, "T", 1);
  row("1 OK and Cancel, Cancel", 1, "T", Action::ClickCancel, QMessageBox::NoIcon, okCancel, "T", 2);
  row("1 OK and Cancel, Escape", 1, "T", Action::Escape, QMessageBox::NoIcon, okCancel, "T", 2);
  row("1 OK and Cancel, close button", 1, "T", Action::Close, QMessageBox::NoIcon, okCancel, "T", 2);
  row("16 critical", 16, "Add Service", Action::ClickOk, QMessageBox::Critical, ok, "Add Service", 1);
  row("33 question, OK", 33, "New", Action::ClickOk, QMessageBox::Question, okCancel, "New", 1);
  row("33 question, Escape", 33, "New", Action::Escape, QMessageBox::Question, okCancel, "New", 2);
  row("48 exclamation", 48, "", Action::ClickOk, QMessageBox::Warning, ok, "AddTarnVel", 1);
  row("64 information", 64, "Add Service", Action::ClickOk, QMessageBox::Information, ok, "Add Service", 1);
}

void QtUiTest::messageBoxStyles() {
  QFETCH(int, style);
  QFETCH(QString, title);
  QFETCH(int, action);
  QFETCH(int, icon);
  QFETCH(int, buttons);
  QFETCH(QString, shownTitle);
  QFETCH(int, answer);

  App::QtUi ui;
  QMessageBox::Icon seenIcon{};
  int seenButtons = 0;
  QString seenTitle, seenText;
  Qt::TextFormat seenFormat{};
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    seenIcon = box->icon();
    seenButtons = int(box->standardButtons());
    seenTitle = box->windowTitle();
    seenText = box->text();
    seenFormat = box->textFormat();
    switch (Action(action)) {
      case Action::ClickOk: box->button(QMessageBox::Ok)->click(); break;
      case Action::ClickCancel: box->button(QMessageBox::Cancel)->click(); break;
      case Action::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
      case Action::Close: box->close(); break;
    }
  });
  const int result = ui.MsgBox("<b>One</b>\r\rTwo\r\nThree", style, title.toStdString());

  QCOMPARE(result, answer);
  QCOMPARE(int(seenIcon), icon);
  QCOMPARE(seenButtons, buttons);
  QCOMPARE(seenTitle, shownTitle);
  QCOMPARE(seenText, QStringLiteral("<b>One</b>\n\nTwo\nThree"));
  QCOMPARE(seenFormat, Qt::PlainText);
}

void QtUiTest::inputBox_data() {
  QTest::addColumn<bool>("accept");
  QTest::addColumn<bool>("cancelled");
  QTest::newRow("OK gives the typed text") << true << false;
  QTest::newRow("Cancel gives nothing") << false << true;
}

void QtUiTest::inputBox() {
  QFETCH(bool, accept);
  QFETCH(bool, cancelled);
  App::QtUi ui;
  QString startText, seenTitle, seenLabel;
  WhenShown<QInputDialog>([&](QInputDialog* dialog) {
    startText = dialog->textValue();
    seenTitle = dialog->windowTitle();
    seenLabel = dialog->labelText();
    QTest::keyClicks(dialog->findChild<QLineEdit*>(), "10001");
    if (accept) {
      dialog->accept();
    } else {
      QTest::keyClick(dialog, Qt::Key_Escape);
    }
  });
  const auto answer = ui.InputBox("Install it?\r\r\r\rZIP:", "");

  QCOMPARE(startText, QString());
  QCOMPARE(seenTitle, QStringLiteral("AddTarnVel"));
  QCOMPARE(seenLabel, QStringLiteral("Install it?\n\n\n\nZIP:"));
  QCOMPARE(answer.has_value(), !cancelled);
  if (answer) QCOMPARE(*answer, std::string("10001"));
}

void QtUiTest::statusPanelAndPointer() {
  App::QtUi ui;
  QLabel panel;
  ui.SetStatusPanel(&panel);

  ui.SetBusy(true);
  QVERIFY(QApplication::overrideCursor());
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

  ui.SetStatusText("Importing line 1");
  QCOMPARE(panel.text(), QStringLiteral("Importing line 1"));
  for (int i = 2; i <= 1000; ++i) ui.SetStatusText("Importing line " + std::to_string(i));
  QCOMPARE(ui.StatusText(), std::string("Importing line 1000"));

  ui.SetBusy(false);
  QCOMPARE(panel.text(), QStringLiteral("Importing line 1000"));
  QVERIFY2(!QApplication::overrideCursor(), "the pointer must be back to the default");
  ui.SetBusy(false);  // an extra restore is ignored
  QVERIFY(!QApplication::overrideCursor());

  ui.SetStatusText("<b>Finished</b>");
  QTRY_COMPARE(panel.text(), QStringLiteral("<b>Finished</b>"));
  QCOMPARE(panel.textFormat(), Qt::PlainText);
}

QTEST_MAIN(QtUiTest)
#include "QtUi_qtest.moc"
