// The window and the Qt Ui, offscreen: the window's looks and wiring with
// the scripted Ui (start-up, the path box's change handler, browse, add,
// the keys that press the focused control, tab order and the focus frame),
// then the Qt Ui's boxes, status panel and busy pointer.
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "AppInfo.h"
#include "QtUi.h"
#include "ScriptedUi.h"
#include "TestSupport.h"
#include "frmMain.h"

using Platform::UiEvent;

namespace {

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

class frmMainTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void startsWithTheDefaultFileOrAnEmptyPath();
  void typingEnablesAddExactlyWhenTextNamesAFile();
  void browseAndAddButtons();
  void pressingTheFocusedControl_data();
  void pressingTheFocusedControl();
  void tabOrderStartsAtAddButton();
  void messageBoxStyles_data();
  void messageBoxStyles();
  void inputBox();
  void statusPanelAndPointer();
  void statusPanelShowsWholeTextOrItsEnds_data();
  void statusPanelShowsWholeTextOrItsEnds();
  void captionsFitAtAnyFont_data();
  void captionsFitAtAnyFont();

 private:
  QWidget* Control(const char* name) {
    auto* widget = window_->objectName() == name ? window_.get() : window_->findChild<QWidget*>(name);
    if (!widget) qFatal("no control named %s", name);
    return widget;
  }
  QString HostDb() const { return QString::fromStdString(hostDb_); }
  void ShowActive() {
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  TestSupport::TempDir dir_;
  std::string hostDb_ = dir_.File("Mailvoro.mdb");
  Platform::ScriptedUi ui_;
  Platform::UiInstallation installation_{ui_};
  std::unique_ptr<App::frmMain> window_;
};

// Each test starts with a fresh window on an existing host database.
void frmMainTest::init() {
  TestSupport::WriteFile(hostDb_, "");
  ui_.Clear();
  Platform::AppInfo::SetDefaultHostDbPath(hostDb_);
  window_ = std::make_unique<App::frmMain>();
}

void frmMainTest::startsWithTheDefaultFileOrAnEmptyPath() {
  {
    Platform::ScriptedUi other;
    const Platform::UiInstallation nested(other);
  }
  QCOMPARE(&Platform::CurrentUi(), static_cast<Platform::Ui*>(&ui_));  // the Ui before a nested one is back

  const struct {
    const char *control, *property;
    QVariant value;
  } looks[] = {
      {"frmMain", "windowTitle", "Add TARN-VEL Service 1.0.3"}, {"frmMain", "size", QSize(393, 122)},
      {"frmMain", "minimumSize", QSize(393, 122)},             {"frmMain", "maximumSize", QSize(393, 122)},
      {"SBarPanel1", "text", "Status:"},                        {"SBarPanel2", "text", ""},
      {"txtPath", "text", HostDb()},                            {"cmdAddService", "enabled", true},
      {"cmdCD", "accessibleName", "Browse for Mailvoro.mdb"},   {"SBar", "accessibleName", "Status"},
      {"SBarPanel2", "textFormat", QVariant::fromValue(Qt::PlainText)},
  };
  for (const auto& look : looks) QCOMPARE(Control(look.control)->property(look.property), look.value);
  QVERIFY(!window_->windowIcon().isNull());
  QCOMPARE(window_->focusWidget(), Control("cmdAddService"));
  QCOMPARE(Control("txtPath")->parentWidget(), Control("Frame1"));

  Platform::AppInfo::SetDefaultHostDbPath(dir_.File("nowhere/Mailvoro.mdb"));
  window_ = std::make_unique<App::frmMain>();
  QCOMPARE(Control("txtPath")->property("text"), QVariant(""));
  QVERIFY(!Control("cmdAddService")->isEnabled());
}

void frmMainTest::typingEnablesAddExactlyWhenTextNamesAFile() {
  auto* path = static_cast<QLineEdit*>(Control("txtPath"));
  auto* add = Control("cmdAddService");
  path->clear();
  for (const QChar c : HostDb()) {
    QTest::keyClicks(path, QString(c));
    QCOMPARE(add->isEnabled(), std::filesystem::is_regular_file(path->text().toStdString()));  // a prefix may name a file too
  }
  QTest::keyClicks(path, "x");
  QVERIFY(!add->isEnabled());
  QTest::keyClick(path, Qt::Key_Backspace);
  QVERIFY(add->isEnabled());
  // Any name will do, but not a folder.
  TestSupport::WriteFile(dir_.File("shop backup.dat"), "not a database");
  path->setText(QString::fromStdString(dir_.File("shop backup.dat")));
  QVERIFY(add->isEnabled());
  path->setText(QString::fromStdString(dir_.Path().string()));
  QVERIFY(!add->isEnabled());
}

// Browse fills the path box (a cancelled dialog changes nothing); add runs
// the add command, here ending at the cancelled ZIP question.
void frmMainTest::browseAndAddButtons() {
  static_cast<QLineEdit*>(Control("txtPath"))->clear();
  ui_.fileDialogAnswers = {hostDb_, std::nullopt};
  for (int click = 0; click < 2; ++click) {
    QTest::mouseClick(Control("cmdCD"), Qt::LeftButton);
    QCOMPARE(Control("txtPath")->property("text"), QVariant(HostDb()));
  }
  QTest::mouseClick(Control("cmdAddService"), Qt::LeftButton);
  std::vector<std::string> seen;
  for (const auto& e : ui_.Events())
    if (e.kind == UiEvent::Kind::FileDialog || e.kind == UiEvent::Kind::Message)
      seen.push_back(e.title + "|" + e.text + "|" + std::to_string(e.style));
  const std::string dialog = "Locate Mailvoro.mdb|Mailvoro Database (Mailvoro.mdb)|Mailvoro.mdb|0";
  QCOMPARE(seen, (std::vector<std::string>{dialog, dialog, "Add Service|Failed to add TARN-VEL service...|16"}));
  QCOMPARE(ui_.StatusText(), std::string("Failed to add TARN-VEL service..."));
  QVERIFY(Control("cmdAddService")->isEnabled());
  // Choosing the path the box already holds tests the file again: it may have come since.
  const std::string later = dir_.File("later.mdb");
  static_cast<QLineEdit*>(Control("txtPath"))->setText(QString::fromStdString(later));
  TestSupport::WriteFile(later, "");
  ui_.fileDialogAnswers = {later};
  QTest::mouseClick(Control("cmdCD"), Qt::LeftButton);
  QVERIFY(Control("cmdAddService")->isEnabled());
}

enum class Press { Mouse, Space, Return, KeypadEnter, HeldReturn, ShiftReturn };

// Each row: the control that has the focus, how the operator presses it,
// and what ran: the open-file dialogs, and the add command's runs (each
// ends at its "Add Service" box, here after the cancelled ZIP question).
void frmMainTest::pressingTheFocusedControl_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<int>("press");
  QTest::addColumn<int>("dialogs");
  QTest::addColumn<int>("adds");
  QTest::newRow("add, mouse") << "cmdAddService" << int(Press::Mouse) << 0 << 1;
  QTest::newRow("add, Space") << "cmdAddService" << int(Press::Space) << 0 << 1;
  QTest::newRow("add, Return") << "cmdAddService" << int(Press::Return) << 0 << 1;
  QTest::newRow("add, keypad Enter") << "cmdAddService" << int(Press::KeypadEnter) << 0 << 1;
  QTest::newRow("add, Return held down") << "cmdAddService" << int(Press::HeldReturn) << 0 << 1;
  QTest::newRow("add, Shift+Return") << "cmdAddService" << int(Press::ShiftReturn) << 0 << 0;
  QTest::newRow("browse, Space") << "cmdCD" << int(Press::Space) << 1 << 0;
  QTest::newRow("browse, Return") << "cmdCD" << int(Press::Return) << 1 << 0;
  QTest::newRow("path box, Return") << "txtPath" << int(Press::Return) << 0 << 0;
  QTest::newRow("path box, keypad Enter") << "txtPath" << int(Press::KeypadEnter) << 0 << 0;
}

// The keys reach the control as the focus widget of the active window;
// the path box keeps its text and the add button its state.
void frmMainTest::pressingTheFocusedControl() {
  QFETCH(QString, control);
  QFETCH(int, press);
  QFETCH(int, dialogs);
  QFETCH(int, adds);
  ShowActive();
  QWidget* target = Control(qPrintable(control));
  target->setFocus();
  QCOMPARE(QApplication::focusWidget(), target);
  const auto key = [target](Qt::Key code, Qt::KeyboardModifiers modifiers, bool repeat = false) {
    QKeyEvent down(QEvent::KeyPress, code, modifiers, QStringLiteral("\r"), repeat);
    QKeyEvent up(QEvent::KeyRelease, code, modifiers, QStringLiteral("\r"), repeat);
    QApplication::sendEvent(target, &down);
    QApplication::sendEvent(target, &up);
  };
  switch (Press(press)) {
    case Press::Mouse: QTest::mouseClick(target, Qt::LeftButton); break;
    case Press::Space: QTest::keyClick(target, Qt::Key_Space); break;
    case Press::Return: QTest::keyClick(target, Qt::Key_Return); break;
    case Press::KeypadEnter: QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier); break;
    case Press::HeldReturn:
      for (const bool repeat : {false, true, true, true}) key(Qt::Key_Return, Qt::NoModifier, repeat);
      break;
    case Press::ShiftReturn: key(Qt::Key_Return, Qt::ShiftModifier); break;
  }
  QCOMPARE(int(ui_.EventsOf(UiEvent::Kind::FileDialog).size()), dialogs);
  int runs = 0;
  for (const auto& e : ui_.EventsOf(UiEvent::Kind::Message)) runs += e.title == "Add Service";
  QCOMPARE(runs, adds);
  QCOMPARE(Control("txtPath")->property("text"), QVariant(HostDb()));
  QVERIFY(Control("cmdAddService")->isEnabled());
}

void frmMainTest::tabOrderStartsAtAddButton() {
  ShowActive();
  // The focus frame shows on the add button from the start, before any
  // key is pressed: the button looks otherwise once the focus leaves it.
  auto* add = Control("cmdAddService");
  const QImage focused = add->grab().toImage();
  Control("txtPath")->setFocus();
  QVERIFY2(add->grab().toImage() != focused, "the add button shows no focus frame at start");
  add->setFocus();
  for (const char* name : {"cmdAddService", "txtPath", "cmdCD", "cmdAddService"}) {
    QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

enum class Action { ClickOk, ClickCancel, Escape, Close };

// Each row: the style and title asked for, what the operator does, and what
// the box showed and answered as "icon|buttons|title|answer".
void frmMainTest::messageBoxStyles_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("action");
  QTest::addColumn<QString>("expected");
  const auto seen = [](QMessageBox::Icon icon, QMessageBox::StandardButtons buttons, const char* title, int answer) {
    return QString("%1|%2|%3|%4").arg(int(icon)).arg(int(buttons)).arg(title).arg(answer);
  };
  const QMessageBox::StandardButtons ok = QMessageBox::Ok, okCancel = QMessageBox::Ok | QMessageBox::Cancel;
  using Box = QMessageBox;
  QTest::newRow("0, no title of its own") << 0 << "" << int(Action::ClickOk) << seen(Box::NoIcon, ok, "AddTarnVel", 1);
  QTest::newRow("0, Escape answers OK") << 0 << "T" << int(Action::Escape) << seen(Box::NoIcon, ok, "T", 1);
  QTest::newRow("1, Cancel") << 1 << "T" << int(Action::ClickCancel) << seen(Box::NoIcon, okCancel, "T", 2);
  QTest::newRow("1, close button") << 1 << "T" << int(Action::Close) << seen(Box::NoIcon, okCancel, "T", 2);
  QTest::newRow("16") << 16 << "Add Service" << int(Action::ClickOk) << seen(Box::Critical, ok, "Add Service", 1);
  QTest::newRow("33, Escape") << 33 << "New" << int(Action::Escape) << seen(Box::Question, okCancel, "New", 2);
  QTest::newRow("48") << 48 << "" << int(Action::ClickOk) << seen(Box::Warning, ok, "AddTarnVel", 1);
  QTest::newRow("64") << 64 << "Add Service" << int(Action::ClickOk) << seen(Box::Information, ok, "Add Service", 1);
}

// Every box shows its text as plain text, each CR as a line break.
void frmMainTest::messageBoxStyles() {
  QFETCH(int, style);
  QFETCH(QString, title);
  QFETCH(int, action);
  QFETCH(QString, expected);
  App::QtUi ui;
  QString seen, seenText;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = QString("%1|%2|%3|").arg(int(box->icon())).arg(int(box->standardButtons())).arg(box->windowTitle());
    seenText = box->textFormat() == Qt::PlainText ? box->text() : "(not plain text)";
    switch (Action(action)) {
      case Action::ClickOk: box->button(QMessageBox::Ok)->click(); break;
      case Action::ClickCancel: box->button(QMessageBox::Cancel)->click(); break;
      case Action::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
      case Action::Close: box->close(); break;
    }
  });
  const int answer = ui.MsgBox("<b>One</b>\r\rTwo\r\nThree", style, title.toStdString());
  QCOMPARE(seen + QString::number(answer), expected);
  QCOMPARE(seenText, QStringLiteral("<b>One</b>\n\nTwo\nThree"));
}

// OK gives the typed text, Cancel nothing.
void frmMainTest::inputBox() {
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

void frmMainTest::statusPanelAndPointer() {
  App::QtUi ui;
  App::StatusLabel panel;
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

// Each row: a status text, the panel's width (0: as the window has it) and
// the text its tooltip shows (none while the whole text is shown).
void frmMainTest::statusPanelShowsWholeTextOrItsEnds_data() {
  QTest::addColumn<QString>("status");
  QTest::addColumn<int>("width");
  QTest::addColumn<QString>("tip");
  const QString readOnly =
      "The database '/opt/Mailvoro/Shops/Tarn Valley Outfitters/shop/Mailvoro.mdb' is read-only; the change was not saved.";
  QTest::newRow("short") << "Finished successfully !" << 0 << "";
  QTest::newRow("short, line breaks") << "One\r\nTwo" << 0 << "";
  QTest::newRow("long") << readOnly << 0 << readOnly;
  QTest::newRow("long, panel widened") << readOnly << 2000 << "";
  QTest::newRow("long, panel narrowed") << readOnly << 120 << readOnly;
  QTest::newRow("long, looks like markup") << "<b>" + readOnly + "</b> &amp;" << 0 << "<b>" + readOnly + "</b> &amp;";
  QTest::newRow("long, line breaks") << "Failed to add TARN-VEL service...\r\r" + readOnly << 0
                                     << "Failed to add TARN-VEL service...\n\n" + readOnly;
}

// The window's panel shows one plain line that fits it: the whole text
// with its line breaks as spaces, or its start and end around an
// ellipsis, cut anew when the panel's width changes.
void frmMainTest::statusPanelShowsWholeTextOrItsEnds() {
  QFETCH(QString, status);
  QFETCH(int, width);
  QFETCH(QString, tip);
  ShowActive();
  App::QtUi ui;
  auto* panel = window_->StatusPanel();
  ui.SetStatusPanel(panel);
  ui.SetStatusText(status.toStdString());
  ui.FlushStatus();
  if (width > 0) panel->resize(width, panel->height());
  const QString shown = panel->text();
  QCOMPARE(panel->textFormat(), Qt::PlainText);
  QVERIFY2(panel->fontMetrics().horizontalAdvance(shown) <= panel->contentsRect().width(), qPrintable(shown));
  QVERIFY2(!shown.contains('\r') && !shown.contains('\n'), qPrintable(shown));
  QString line = status;
  line.replace("\r\n", " ").replace('\r', ' ');
  if (tip.isEmpty()) {
    QCOMPARE(shown, line);
    QCOMPARE(panel->toolTip(), QString());
    return;
  }
  const auto cut = shown.split(QChar(0x2026));
  QCOMPARE(cut.size(), 2);
  QVERIFY2(cut[0].size() >= 4 && line.startsWith(cut[0]), qPrintable(shown));
  QVERIFY2(cut[1].size() >= 4 && line.endsWith(cut[1]), qPrintable(shown));
  QVERIFY(Qt::mightBeRichText(panel->toolTip()));  // so that a markup-like text shows as itself
  QTextDocument shownTip;
  shownTip.setHtml(panel->toolTip());
  QCOMPARE(shownTip.toPlainText(), tip);
}

void frmMainTest::captionsFitAtAnyFont_data() {
  QTest::addColumn<QFont>("font");
  for (const int points : {7, 9, 11, 13, 16, 24}) QTest::addRow("sans %d pt", points) << QFont("Sans Serif", points);
  QTest::addRow("monospace 13 pt") << QFont("Monospace", 13);
}

// The window's font changes after it is built, as a desktop's or a style
// sheet's does. Each caption must keep the room its text needs, every
// control must stay inside its parent, and up to the default font the
// window keeps its designed size. A long status shown before is cut anew
// for the new font and panel: it fits and fills the panel.
void frmMainTest::captionsFitAtAnyFont() {
  QFETCH(QFont, font);
  ShowActive();
  const QSize designed = window_->size();
  auto* status = window_->StatusPanel();
  status->SetStatus("The database '/opt/Mailvoro/Shops/Tarn Valley Outfitters/shop/Mailvoro.mdb' is read-only.");
  window_->setFont(font);
  const QFontMetrics metrics(font);
  QVERIFY2(Control("txtPath")->y() >= metrics.height(), "the frame's caption runs into the path box");
  const struct {
    const char* control;
    QString text;
    int margin;  // the control's own frame and padding, at least
  } rows[] = {
      {"Frame1", static_cast<QGroupBox*>(Control("Frame1"))->title(), 0},
      {"txtPath", "Mailvoro", 4},
      {"cmdCD", "...", 4},
      {"cmdAddService", "Add TARN-VEL Service", 4},
      {"SBarPanel1", "Status:", 0},
      {"SBarPanel2", "Failed to add TARN-VEL service...", 0},
  };
  for (const auto& row : rows) {
    const QSize need = metrics.size(Qt::TextSingleLine, row.text) + QSize(row.margin, row.margin);
    const QRect room = Control(row.control)->geometry();
    QVERIFY2(room.width() >= need.width() && room.height() >= need.height(),
             qPrintable(QString("%1 is %2x%3 for \"%4\", which needs %5x%6").arg(row.control)
                            .arg(room.width()).arg(room.height()).arg(row.text).arg(need.width()).arg(need.height())));
    QVERIFY2(Control(row.control)->parentWidget()->rect().contains(room), qPrintable(QString(row.control) + " sticks out"));
  }
  if (QFontInfo(font).pointSize() <= QFontInfo(QApplication::font()).pointSize()) QCOMPARE(window_->size(), designed);
  const int room = status->contentsRect().width(), used = metrics.horizontalAdvance(status->text());
  QVERIFY2(status->text().contains(QChar(0x2026)) && used <= room && used > room - metrics.horizontalAdvance("MMM"),
           qPrintable(QString("\"%1\" takes %2 of %3 pixels").arg(status->text()).arg(used).arg(room)));
}

QTEST_MAIN(frmMainTest)
#include "frmMain_qtest.moc"
