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
  void inputBox();
  void statusPanelAndPointer();
};

// Each row: the style and title asked for, what the operator does, and what
// the box showed and answered as "icon|buttons|title|answer".
void QtUiTest::messageBoxStyles_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("action");
  QTest::addColumn<QString>("expected");
  const auto seen = [](QMessageBox::Icon icon, QMessageBox::StandardButtons buttons, const char* title, int answer) {
    return QString("%1|%2|%3|%4").arg(int(icon)).arg(int(buttons)).arg(title).arg(answer);
  };
  const QMessageBox::StandardButtons ok = QMessageBox::Ok, okCancel = QMessageBox::Ok | QMessageBox::Cancel;
  QTest::newRow("0 OK, no title of its own") << 0 << "" << int(Action::ClickOk)
                                              << seen(QMessageBox::NoIcon, ok, "AddTarnVel", 1);
  QTest::newRow("0 OK, Escape answers OK") << 0 << "T" << int(Action::Escape) << seen(QMessageBox::NoIcon, ok, "T", 1);
  QTest::newRow("1 OK and Cancel, Cancel") << 1 << "T" << int(Action::ClickCancel)
                                           << seen(QMessageBox::NoIcon, okCancel, "T", 2);
  QTest::newRow("1 OK and Cancel, close button") << 1 << "T" << int(Action::Close)
                                                 << seen(QMessageBox::NoIcon, okCancel, "T", 2);
  QTest::newRow("16 critical") << 16 << "Add Service" << int(Action::ClickOk)
                               << seen(QMessageBox::Critical, ok, "Add Service", 1);
  QTest::newRow("33 question, Escape") << 33 << "New" << int(Action::Escape)
                                       << seen(QMessageBox::Question, okCancel, "New", 2);
  QTest::newRow("48 exclamation") << 48 << "" << int(Action::ClickOk) << seen(QMessageBox::Warning, ok, "AddTarnVel", 1);
  QTest::newRow("64 information") << 64 << "Add Service" << int(Action::ClickOk)
                                  << seen(QMessageBox::Information, ok, "Add Service", 1);
}

void QtUiTest::messageBoxStyles() {
  QFETCH(int, style);
  QFETCH(QString, title);
  QFETCH(int, action);
  QFETCH(QString, expected);
  App::QtUi ui;
  QString seen, seenText;
  Qt::TextFormat seenFormat{};
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = QString("%1|%2|%3").arg(int(box->icon())).arg(int(box->standardButtons())).arg(box->windowTitle());
    seenText = box->text();
    seenFormat = box->textFormat();
    switch (Action(action)) {
      case Action::ClickOk: box->button(QMessageBox::Ok)->click(); break;
      case Action::ClickCancel: box->button(QMessageBox::Cancel)->click(); break;
      case Action::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
      case Action::Close: box->close(); break;
    }
  });
  const int answer = ui.MsgBox("<b>One</b>\r\rTwo\r\nThree", style, title.toStdString());
  QCOMPARE(seen + "|" + QString::number(answer), expected);
  QCOMPARE(seenText, QStringLiteral("<b>One</b>\n\nTwo\nThree"));
  QCOMPARE(seenFormat, Qt::PlainText);
}

// OK gives the typed text, Cancel nothing.
void QtUiTest::inputBox() {
  for (const bool accept : {true, false}) {
    App::QtUi ui;
    QString seen;
    WhenShown<QInputDialog>([&](QInputDialog* dialog) {
      seen = dialog->textValue() + "|" + dialog->windowTitle() + "|" + dialog->labelText();
      QTest::keyClicks(dialog->findChild<QLineEdit*>(), "10001");
      if (accept) {
        dialog->accept();
      } else {
        QTest::keyClick(dialog, Qt::Key_Escape);
      }
    });
    const auto answer = ui.InputBox("Install it?\r\r\r\rZIP:", "");
    QCOMPARE(seen, QStringLiteral("|AddTarnVel|Install it?\n\n\n\nZIP:"));
    QCOMPARE(answer, accept ? std::optional<std::string>("10001") : std::nullopt);
  }
}

void QtUiTest::statusPanelAndPointer() {
  App::QtUi ui;
  QLabel panel;
  ui.SetStatusPanel(&panel);

  ui.SetBusy(true);
  QVERIFY(QApplication::overrideCursor());
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

  for (int i = 1; i <= 1000; ++i) ui.SetStatusText("Importing line " + std::to_string(i));
  QCOMPARE(ui.StatusText(), std::string("Importing line 1000"));

  ui.SetBusy(false);
  QCOMPARE(panel.text(), QStringLiteral("Importing line 1000"));
  ui.SetBusy(false);  // an extra restore is ignored
  QVERIFY2(!QApplication::overrideCursor(), "the pointer must be back to the default");

  ui.SetStatusText("<b>Finished</b>");
  QTRY_COMPARE(panel.text(), QStringLiteral("<b>Finished</b>"));
  QCOMPARE(panel.textFormat(), Qt::PlainText);
}

QTEST_MAIN(QtUiTest)
#include "QtUi_qtest.moc"
