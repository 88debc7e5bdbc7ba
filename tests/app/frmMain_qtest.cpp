// The window and the Qt Ui, offscreen: the window at start, the path box
// and its buttons, the keys and the tab order with the scripted Ui; the Qt
// Ui's boxes, input box, pointer and status panel; captions at any font.
#include <QAbstractButton>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
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
  void init();
  void startsAtTheDefaultPath_data();
  void startsAtTheDefaultPath();
  void addEnabledExactlyWhenTheTextNamesAFile();
  void browseAndAdd();
  void keysPressTheFocusedControl();
  void tabOrderAndFocusFrame();
  void boxStyles_data();
  void boxStyles();
  void inputBox_data();
  void inputBox();
  void pointer();
  void statusPanel_data();
  void statusPanel();
  void captionsFitAtAnyFont_data();
  void captionsFitAtAnyFont();

 private:
  QWidget* Control(const char* name) {
    auto* widget = window_->objectName() == name ? window_.get() : window_->findChild<QWidget*>(name);
    if (!widget) qFatal("no control named %s", name);
    return widget;
  }
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

// Each test starts with a fresh window on an existing host database.
void frmMainTest::init() {
  TestSupport::WriteFile(hostDb_.toStdString(), "");
  ui_.Clear();
  Platform::AppInfo::SetDefaultHostDbPath(hostDb_.toStdString());
  window_ = std::make_unique<App::frmMain>();
}

void frmMainTest::startsAtTheDefaultPath_data() {
  QTest::addColumn<bool>("exists");
  QTest::newRow("the default file") << true;
  QTest::newRow("no default file") << false;  // an empty path, add disabled, the focus in the path box
}

void frmMainTest::startsAtTheDefaultPath() {
  QFETCH(bool, exists);
  {
    Platform::ScriptedUi other;
    const Platform::UiInstallation nested(other);
  }
  QCOMPARE(&Platform::CurrentUi(), static_cast<Platform::Ui*>(&ui_));  // the Ui before a nested one is back
  if (!exists) Platform::AppInfo::SetDefaultHostDbPath(dir_.File("nowhere/Mailvoro.mdb"));
  window_ = std::make_unique<App::frmMain>();
  QCOMPARE(Path()->text(), exists ? hostDb_ : QString());
  QCOMPARE(AddEnabled(), exists);
  QCOMPARE(window_->focusWidget(), Control(exists ? "cmdAddService" : "txtPath"));
  const struct {
    const char *control, *property;
    QVariant value;
  } looks[] = {
      {"frmMain", "windowTitle", "Add TARN-VEL Service 1.0.3"}, {"frmMain", "minimumSize", QSize(393, 122)},
      {"frmMain", "maximumSize", QSize(393, 122)}, {"Frame1", "title", "Mailvoro database location:"},
      {"cmdCD", "text", "..."}, {"cmdAddService", "text", "Add TARN-VEL Service"}, {"SBarPanel1", "text", "Status:"},
      {"SBarPanel2", "text", ""}, {"SBarPanel2", "textFormat", QVariant::fromValue(Qt::PlainText)},
      {"cmdCD", "accessibleName", "Browse for Mailvoro.mdb"}, {"SBar", "accessibleName", "Status"},
  };
  for (const auto& look : looks) QCOMPARE(Control(look.control)->property(look.property), look.value);
  QVERIFY(!window_->windowIcon().isNull());
  QCOMPARE(Path()->parentWidget(), Control("Frame1"));
}

// Any name will do, but not a folder (each prefix typed is one) nor a file that is not there.
void frmMainTest::addEnabledExactlyWhenTheTextNamesAFile() {
  TestSupport::WriteFile(dir_.File("shop backup.dat"), "");
  Path()->clear();
  for (const QChar c : QString::fromStdString(dir_.File("shop backup.datx"))) {
    QTest::keyClicks(Path(), QString(c));
    QCOMPARE(AddEnabled(), std::filesystem::is_regular_file(Path()->text().toStdString()));
  }
}

// Browse fills the path box; a cancelled dialog changes nothing; the path
// the box holds already is tested again (the file may have come since).
// Add runs the add command, here ending at the cancelled ZIP question.
void frmMainTest::browseAndAdd() {
  const QString later = QString::fromStdString(dir_.File("later.mdb"));
  Path()->setText(later);
  ui_.fileDialogAnswers = {hostDb_.toStdString(), std::nullopt, later.toStdString()};
  for (const QString& chosen : {hostDb_, hostDb_, later}) {
    if (chosen == later) Path()->setText(later), TestSupport::WriteFile(later.toStdString(), "");
    QTest::mouseClick(Control("cmdCD"), Qt::LeftButton);
    QCOMPARE(Path()->text(), chosen);
    QVERIFY(AddEnabled());
  }
  QTest::mouseClick(Control("cmdAddService"), Qt::LeftButton);
  std::vector<std::string> seen;
  for (const auto& e : ui_.Events())
    if (e.kind == UiEvent::Kind::FileDialog || e.kind == UiEvent::Kind::Message)
      seen.push_back(e.kind == UiEvent::Kind::Message ? std::to_string(e.style) : e.title + "|" + e.text);
  const std::string dialog = "Locate Mailvoro.mdb|Mailvoro Database (Mailvoro.mdb)|Mailvoro.mdb";
  QCOMPARE(seen, (std::vector<std::string>{dialog, dialog, dialog, "16"}));
}

// Return and keypad Enter press the focused button once, held down too,
// as Space does; Shift+Return does not, nor Return in the path box.
void frmMainTest::keysPressTheFocusedControl() {
  ShowActive();
  const struct {
    const char* control;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int repeats;
    std::size_t dialogs, boxes;
  } rows[] = {{"cmdAddService", Qt::Key_Return, Qt::NoModifier, 3, 0, 1}, {"cmdAddService", Qt::Key_Enter, Qt::KeypadModifier, 0, 0, 1},
              {"cmdAddService", Qt::Key_Return, Qt::ShiftModifier, 0, 0, 0}, {"cmdCD", Qt::Key_Return, Qt::NoModifier, 0, 1, 0},
              {"txtPath", Qt::Key_Return, Qt::NoModifier, 0, 0, 0}};
  for (const auto& row : rows) {
    ui_.Clear();
    Control(row.control)->setFocus();
    for (int repeat = 0; repeat <= row.repeats; ++repeat)
      for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, row.key, row.modifiers, QStringLiteral("\r"), repeat > 0);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
      }
    QCOMPARE(ui_.EventsOf(UiEvent::Kind::FileDialog).size(), row.dialogs);
    QCOMPARE(ui_.EventsOf(UiEvent::Kind::Message).size(), row.boxes);
    QCOMPARE(Path()->text(), hostDb_);
  }
}

// The focus frame shows on the add button from the start, before any key
// is pressed; Tab goes add, path box, browse, and back to add.
void frmMainTest::tabOrderAndFocusFrame() {
  ShowActive();
  const QImage focused = Control("cmdAddService")->grab().toImage();
  Path()->setFocus();
  QVERIFY2(Control("cmdAddService")->grab().toImage() != focused, "the add button shows no focus frame at start");
  Control("cmdAddService")->setFocus();
  for (const char* name : {"cmdAddService", "txtPath", "cmdCD", "cmdAddService"}) {
    QCOMPARE(QApplication::focusWidget()->objectName(), QString(name));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

enum class Action { ClickOk, ClickCancel, Escape, Close };

// Each row: the style and title asked for, what the operator does, and
// what the box showed and answered: "icon|buttons|title|answer".
void frmMainTest::boxStyles_data() {
  QTest::addColumn<int>("style");
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("action");
  QTest::addColumn<QString>("expected");
  const auto seen = [](QMessageBox::Icon icon, QMessageBox::StandardButtons buttons, const char* title, int answer) {
    return QString("%1|%2|%3|%4").arg(int(icon)).arg(int(buttons)).arg(title).arg(answer);
  };
  using Box = QMessageBox;
  const Box::StandardButtons ok = Box::Ok, okCancel = Box::Ok | Box::Cancel;
  QTest::newRow("0, no title of its own") << 0 << "" << int(Action::ClickOk) << seen(Box::NoIcon, ok, "AddTarnVel", 1);
  QTest::newRow("0, Escape answers OK") << 0 << "T" << int(Action::Escape) << seen(Box::NoIcon, ok, "T", 1);
  QTest::newRow("1, Cancel") << 1 << "T" << int(Action::ClickCancel) << seen(Box::NoIcon, okCancel, "T", 2);
  QTest::newRow("1, close button") << 1 << "T" << int(Action::Close) << seen(Box::NoIcon, okCancel, "T", 2);
  QTest::newRow("16") << 16 << "T" << int(Action::ClickOk) << seen(Box::Critical, ok, "T", 1);
  QTest::newRow("33, Escape") << 33 << "T" << int(Action::Escape) << seen(Box::Question, okCancel, "T", 2);
  QTest::newRow("48") << 48 << "" << int(Action::ClickOk) << seen(Box::Warning, ok, "AddTarnVel", 1);
  QTest::newRow("64") << 64 << "T" << int(Action::ClickOk) << seen(Box::Information, ok, "T", 1);
}

// Every box shows its text as plain text, each CR as a line break.
void frmMainTest::boxStyles() {
  QFETCH(QString, title);
  QFETCH(int, action);
  App::QtUi ui;
  QString seen;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = QString("%1|%2|%3|").arg(int(box->icon())).arg(int(box->standardButtons())).arg(box->windowTitle());
    QCOMPARE(box->textFormat() == Qt::PlainText ? box->text() : "(rich text)", QStringLiteral("<b>One</b>\n\nTwo\nThree"));
    if (Action(action) == Action::Escape) QTest::keyClick(box, Qt::Key_Escape);
    if (Action(action) == Action::Close) box->close();
    if (Action(action) <= Action::ClickCancel) box->button(Action(action) == Action::ClickOk ? QMessageBox::Ok : QMessageBox::Cancel)->click();
  });
  QFETCH(int, style);
  seen += QString::number(ui.MsgBox("<b>One</b>\r\rTwo\r\nThree", style, title.toStdString()));
  QTEST(seen, "expected");
}

void frmMainTest::inputBox_data() {
  QTest::addColumn<bool>("accept");
  QTest::newRow("OK gives the typed text") << true;
  QTest::newRow("Cancel gives nothing") << false;
}

void frmMainTest::inputBox() {
  QFETCH(bool, accept);
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

// Busy shows the wait cursor; an extra default is ignored. Of statuses
// that come fast the last is painted, as plain text.
void frmMainTest::pointer() {
  App::QtUi ui;
  App::StatusLabel panel;
  ui.SetStatusPanel(&panel);
  ui.SetBusy(true);
  QCOMPARE(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor, Qt::WaitCursor);
  for (int i = 1; i <= 1000; ++i) ui.SetStatusText("<b>line</b> " + std::to_string(i));
  ui.SetBusy(false);
  ui.SetBusy(false);
  QVERIFY2(!QApplication::overrideCursor(), "the pointer must be back to the default");
  QCOMPARE(panel.text(), QStringLiteral("<b>line</b> 1000"));
  QCOMPARE(panel.textFormat(), Qt::PlainText);
}

// Each row: a status text, the panel's width (0: as the window has it) and
// the text its tooltip shows (none while the whole text is shown).
void frmMainTest::statusPanel_data() {
  QTest::addColumn<QString>("status");
  QTest::addColumn<int>("width");
  QTest::addColumn<QString>("tip");
  const QString longText = "The database '/opt/Mailvoro/Shops/Tarn Valley Outfitters/shop/Mailvoro.mdb' is read-only.";
  QTest::newRow("short") << "Finished successfully !" << 0 << "";
  QTest::newRow("short, line breaks") << "One\r\nTwo" << 0 << "";
  QTest::newRow("long") << longText << 0 << longText;
  QTest::newRow("long, panel widened") << longText << 2000 << "";
  QTest::newRow("long, panel narrowed") << longText << 120 << longText;
  QTest::newRow("long, looks like markup") << "<b>" + longText + "</b> &amp;" << 0 << "<b>" + longText + "</b> &amp;";
  QTest::newRow("long, line breaks") << "Failed...\r\r" + longText << 0 << "Failed...\n\n" + longText;
}

// The window's panel shows one plain line that fits it: the whole text with
// its line breaks as spaces, or its start and end around an ellipsis, cut
// anew when the panel's width changes.
void frmMainTest::statusPanel() {
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
  const QString shown = panel->text(), line = QString(status).replace("\r\n", " ").replace('\r', ' ');
  QVERIFY2(panel->fontMetrics().horizontalAdvance(shown) <= panel->contentsRect().width() && !shown.contains('\n'), qPrintable(shown));
  if (tip.isEmpty()) {
    QCOMPARE(shown, line);
    QCOMPARE(panel->toolTip(), QString());
    return;
  }
  const auto cut = shown.split(QChar(0x2026));
  QVERIFY2(cut.size() == 2 && cut[0].size() >= 4 && line.startsWith(cut[0]) && cut[1].size() >= 4 && line.endsWith(cut[1]), qPrintable(shown));
  QTextDocument shownTip;  // a rich-text tooltip, so that a markup-like text shows as itself
  shownTip.setHtml(panel->toolTip());
  QVERIFY(Qt::mightBeRichText(panel->toolTip()));
  QCOMPARE(shownTip.toPlainText(), tip);
}

void frmMainTest::captionsFitAtAnyFont_data() {
  QTest::addColumn<QFont>("font");
  for (const int points : {7, 9, 13, 24}) QTest::addRow("sans %d pt", points) << QFont("Sans Serif", points);
  QTest::addRow("monospace 13 pt") << QFont("Monospace", 13);
}

// The window's font changes after it is built, as a desktop's or a style
// sheet's does: each caption keeps the room its text needs (a control's own
// frame and padding beside), every control stays inside its parent, up to
// the default font the window keeps its designed size, and a long status
// shown before is cut anew to fill the panel.
void frmMainTest::captionsFitAtAnyFont() {
  QFETCH(QFont, font);
  ShowActive();
  const QSize designed = window_->size();
  auto* status = window_->StatusPanel();
  status->SetStatus("The database '/opt/Mailvoro/Shops/Tarn Valley Outfitters/shop/Mailvoro.mdb' is read-only.");
  window_->setFont(font);
  const QFontMetrics metrics(font);
  QVERIFY2(Path()->y() >= metrics.height(), "the frame's caption runs into the path box");
  for (const char* name : {"Frame1", "txtPath", "cmdCD", "cmdAddService", "SBarPanel1", "SBarPanel2"}) {
    QWidget* control = Control(name);
    const QString own = control->property(control->inherits("QGroupBox") ? "title" : "text").toString();
    const QString text = control == Path() ? "Mailvoro" : control == status ? "Failed to add TARN-VEL service..." : own;
    const int margin = control->inherits("QLabel") || control->inherits("QGroupBox") ? 0 : 4;
    const QSize need = metrics.size(Qt::TextSingleLine, text) + QSize(margin, margin);
    QVERIFY2(control->width() >= need.width() && control->height() >= need.height(), name);
    QVERIFY2(control->parentWidget()->rect().contains(control->geometry()), name);
  }
  if (QFontInfo(font).pointSize() <= QFontInfo(QApplication::font()).pointSize()) QCOMPARE(window_->size(), designed);
  const int room = status->contentsRect().width(), used = metrics.horizontalAdvance(status->text());
  QVERIFY2(status->text().contains(QChar(0x2026)) && used <= room && used > room - metrics.horizontalAdvance("MMM"), qPrintable(status->text()));
}

QTEST_MAIN(frmMainTest)
#include "frmMain_qtest.moc"
