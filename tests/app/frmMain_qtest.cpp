// The window and the Qt Ui, offscreen: the window at start, the path box and its buttons, the keys and the tab
// order with the scripted Ui; the Qt Ui's boxes, input box, pointer and status panel.
#include <QAbstractButton>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTextDocument>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "AppInfo.h"
#include "QtUi.h"
#include "ScriptedUi.h"
#include "TestSupport.h"
#include "frmMain.h"

using Platform::UiEvent;

// Runs `act` on the first modal dialog of type T once it is shown.
template <typename T>
void WhenShown(std::function<void(T*)> act) {
  QTimer::singleShot(10, [act] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) return act(dialog);
    WhenShown<T>(act);
  });
}

class frmMainTest : public QObject {
  Q_OBJECT

 private slots:
  // Each test starts with a fresh window on an existing host database.
  void init() {
    TestSupport::WriteFile(hostDb_.toStdString(), "");
    ui_.Clear();
    Platform::AppInfo::SetDefaultHostDbPath(hostDb_.toStdString());
    window_ = std::make_unique<App::frmMain>();
  }

  // The controls' captions and names; without the default file an empty path, add disabled, the focus there.
  void atStart() {
    {
      Platform::ScriptedUi other;
      const Platform::UiInstallation nested(other);
    }
    QCOMPARE(&Platform::CurrentUi(), static_cast<Platform::Ui*>(&ui_));  // the Ui before a nested one is back
    // clang-format off
    for (const auto& [control, property, value] : std::initializer_list<std::tuple<const char*, const char*, QVariant>>{
             {"Frame1", "title", "Mailvoro database location:"},
             {"cmdCD", "text", "..."},
             {"cmdAddService", "text", "Add TARN-VEL Service"},
             {"SBarPanel1", "text", "Status:"},
             {"SBarPanel2", "text", ""},
             {"SBarPanel2", "textFormat", QVariant::fromValue(Qt::PlainText)},
             {"cmdCD", "accessibleName", "Browse for Mailvoro.mdb"},
             {"SBar", "accessibleName", "Status"}})
      QCOMPARE(Control(control)->property(property), value);
    // clang-format on
    QVERIFY(!window_->windowIcon().isNull());
    QCOMPARE(Path()->parentWidget(), Control("Frame1"));
    // The real-window check starts at an existing default file; without one the path is empty.
    Platform::AppInfo::SetDefaultHostDbPath(dir_.File("nowhere/Mailvoro.mdb"));
    window_ = std::make_unique<App::frmMain>();
    QCOMPARE(Path()->text(), QString());
    QVERIFY(!AddEnabled());
    QCOMPARE(window_->focusWidget(), Control("txtPath"));
  }

  // Any name will do, but not a folder (each prefix typed is one) nor a file that is not there.
  void addEnabledExactlyWhenTheTextNamesAFile() {
    TestSupport::WriteFile(dir_.File("shop backup.dat"), "");
    Path()->clear();
    for (const QChar c : QString::fromStdString(dir_.File("shop backup.datx"))) {
      QTest::keyClicks(Path(), QString(c));
      QCOMPARE(AddEnabled(), std::filesystem::is_regular_file(Path()->text().toStdString()));
    }
  }

  // Browse fills the path box; a cancelled dialog changes nothing; the path the box holds already is tested
  // again (the file may have come since). Add runs the add command, here ending at the cancelled ZIP question.
  void browseAndAdd() {
    const QString later = QString::fromStdString(dir_.File("later.mdb"));
    Path()->setText(later);
    ui_.fileDialogAnswers = {hostDb_.toStdString(), std::nullopt, later.toStdString()};
    for (const QString& chosen : {hostDb_, hostDb_, later}) {
      if (chosen == later) {
        Path()->setText(later);
        TestSupport::WriteFile(later.toStdString(), "");
      }
      QTest::mouseClick(Control("cmdCD"), Qt::LeftButton);
      QCOMPARE(Path()->text(), chosen);
      QVERIFY(AddEnabled());
    }
    QTest::mouseClick(Control("cmdAddService"), Qt::LeftButton);
    QCOMPARE(ui_.EventsOf(UiEvent::Kind::FileDialog).size(), 3u);
    QCOMPARE(ui_.EventsOf(UiEvent::Kind::Message).at(0).style, 16);
  }

  // The focus frame shows on the add button from the start; Tab goes add, path box, browse, add. Return and
  // keypad Enter press the focused button once, held down too; Shift+Return does not. Each row: the control,
  // the key, its modifiers, its repeats, then the file dialogs and boxes it brings.
  void keysAndTabOrder() {
    ShowActive();
    const QImage focused = Control("cmdAddService")->grab().toImage();
    Path()->setFocus();
    QVERIFY2(Control("cmdAddService")->grab().toImage() != focused, "the add button shows no focus frame at start");
    Control("cmdAddService")->setFocus();
    for (const char* name : {"cmdAddService", "txtPath", "cmdCD", "cmdAddService"}) {
      QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    using Key = std::tuple<const char*, Qt::Key, Qt::KeyboardModifiers, int, std::size_t, std::size_t>;
    // clang-format off
    for (const auto& [control, key, modifiers, repeats, dialogs, boxes] : std::initializer_list<Key>{
             {"cmdAddService", Qt::Key_Return, Qt::NoModifier, 3, 0, 1},
             {"cmdAddService", Qt::Key_Enter, Qt::KeypadModifier, 0, 0, 1},
             {"cmdAddService", Qt::Key_Return, Qt::ShiftModifier, 0, 0, 0},
             {"cmdCD", Qt::Key_Return, Qt::NoModifier, 0, 1, 0}}) {
      // clang-format on
      ui_.Clear();
      Control(control)->setFocus();
      for (int repeat = 0; repeat <= repeats; ++repeat) {
        for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
          QKeyEvent event(type, key, modifiers, QStringLiteral("\r"), repeat > 0);
          QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
      }
      QCOMPARE(ui_.EventsOf(UiEvent::Kind::FileDialog).size(), dialogs);
      QCOMPARE(ui_.EventsOf(UiEvent::Kind::Message).size(), boxes);
      QCOMPARE(Path()->text(), hostDb_);
    }
  }

  // Every box shows its text as plain text, each CR a line break. Each row: the style and title asked for,
  // the button pressed (none: Escape), and "icon|buttons|title|answer" the box showed and answered.
  void boxStyles() {
    using Box = std::tuple<int, const char*, QMessageBox::StandardButton, const char*>;
    // clang-format off
    for (const auto& [style, title, press, expected] : std::initializer_list<Box>{
             {0, "", QMessageBox::NoButton, "0|1024|AddTarnVel|1"},
             {16, "T", QMessageBox::Ok, "3|1024|T|1"},
             {33, "T", QMessageBox::Cancel, "4|4195328|T|2"},
             {48, "", QMessageBox::Ok, "2|1024|AddTarnVel|1"},
             {64, "T", QMessageBox::Ok, "1|1024|T|1"}}) {
      // clang-format on
      App::QtUi ui;
      QString seen;
      WhenShown<QMessageBox>([&, press = press](QMessageBox* box) {
        seen = QString("%1|%2|%3|").arg(int(box->icon())).arg(int(box->standardButtons())).arg(box->windowTitle());
        QCOMPARE(box->textFormat() == Qt::PlainText ? box->text() : "(rich)",
                 QStringLiteral("<b>One</b>\n\nTwo\nThree"));
        press ? box->button(press)->click() : QTest::keyClick(box, Qt::Key_Escape);
      });
      seen += QString::number(ui.MsgBox("<b>One</b>\r\rTwo\r\nThree", style, title));
      QCOMPARE(seen, QString(expected));
    }
  }

  // OK gives the typed text, Cancel nothing.
  void inputBox() {
    for (const bool accept : {true, false}) {
      App::QtUi ui;
      QString seen;
      WhenShown<QInputDialog>([&](QInputDialog* dialog) {
        seen = dialog->textValue() + "|" + dialog->windowTitle() + "|" + dialog->labelText();
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), "10001");
        accept ? dialog->accept() : QTest::keyClick(dialog, Qt::Key_Escape);
      });
      const auto answer = ui.InputBox("Install it?\r\r\r\rZIP:", "");
      QCOMPARE(seen, QStringLiteral("|AddTarnVel|Install it?\n\n\n\nZIP:"));
      QCOMPARE(answer, accept ? std::optional<std::string>("10001") : std::nullopt);
    }
  }

  // Busy shows the wait cursor; an extra default is ignored. Of statuses that come fast the last is shown. The
  // panel shows one plain line that fits it: the whole text with its line breaks as spaces (no tooltip), or its
  // start and end around an ellipsis (the whole text as tooltip), cut anew when its width changes. Each row: a
  // status text, the panel's width after it (0: as the window has it), whether it is cut.
  void statusPanel() {
    const QString text = "The database '/opt/Mailvoro/Shops/Tarn Valley Outfitters/shop/Mailvoro.mdb' is read-only.";
    ShowActive();
    App::QtUi ui;
    auto* panel = window_->StatusPanel();
    ui.SetStatusPanel(panel);
    ui.SetBusy(true);
    QCOMPARE(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor,
             Qt::WaitCursor);
    for (int i = 1; i <= 1000; ++i) ui.SetStatusText("<b>line</b> " + std::to_string(i));
    ui.SetBusy(false);
    ui.SetBusy(false);
    QVERIFY2(!QApplication::overrideCursor(), "the pointer must be back to the default");
    QCOMPARE(panel->text(), QStringLiteral("<b>line</b> 1000"));
    // clang-format off
    for (const auto& [status, width, cut] : std::initializer_list<std::tuple<QString, int, bool>>{
             {"One\r\nTwo", 0, false},
             {"<b>" + text + "</b> &amp;", 0, true},
             {"Failed...\r\r" + text, 0, true},
             {text, 2000, false}}) {
      // clang-format on
      ui.SetStatusText(status.toStdString());
      ui.FlushStatus();
      if (width > 0) panel->resize(width, panel->height());
      const QString shown = panel->text();
      const QString line = QString(status).replace("\r\n", " ").replace('\r', ' ');
      QVERIFY2(panel->fontMetrics().horizontalAdvance(shown) <= panel->contentsRect().width(), qPrintable(shown));
      QVERIFY2(!shown.contains('\n'), qPrintable(shown));
      if (!cut) {
        QCOMPARE(shown, line);
        QCOMPARE(panel->toolTip(), QString());
        continue;
      }
      const auto ends = shown.split(QChar(0x2026));
      QVERIFY2(ends.size() == 2 && ends[0].size() >= 4 && line.startsWith(ends[0]), qPrintable(shown));
      QVERIFY2(ends[1].size() >= 4 && line.endsWith(ends[1]), qPrintable(shown));
      QTextDocument tip;  // a rich-text tooltip, so that a markup-like text shows as itself
      tip.setHtml(panel->toolTip());
      QVERIFY(Qt::mightBeRichText(panel->toolTip()));
      QCOMPARE(tip.toPlainText(), QString(status).replace('\r', '\n'));
    }
  }

 private:
  QWidget* Control(const char* name) { return window_->findChild<QWidget*>(name); }
  QLineEdit* Path() { return static_cast<QLineEdit*>(Control("txtPath")); }
  bool AddEnabled() { return Control("cmdAddService")->isEnabled(); }
  void ShowActive() {
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  TestSupport::TempDir dir_;
  QString hostDb_ = QString::fromStdString(dir_.File("Mailvoro.mdb"));
  Platform::ScriptedUi ui_;
  Platform::UiInstallation installation_{ui_};
  std::unique_ptr<App::frmMain> window_;
};

QTEST_MAIN(frmMainTest)
#include "frmMain_qtest.moc"
