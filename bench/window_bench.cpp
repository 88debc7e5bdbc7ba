// The zone chart import in the window against the same import in the
// unattended runner: the status text is written for every chart line, and
// the window must not make the import much slower for it.
//
//   atv-window-bench BUILD_PROGRAM_FOLDER [LINES]   (LINES 100000; QT_QPA_PLATFORM=offscreen)
//
// Prints the times and, as its last line, "window-ratio R paints-per-second P".
#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "AppInfo.h"
#include "BenchSupport.h"
#include "QtUi.h"
#include "Ui.h"
#include "frmMain.h"

namespace {

// Counts the paints of the status panel that reach the screen.
class CountingLabel final : public QObject {
 public:
  explicit CountingLabel(QLabel* label) { label->installEventFilter(this); }
  int Paints() const { return paints_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints_;
    return QObject::eventFilter(watched, event);
  }

 private:
  int paints_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: atv-window-bench BUILD_PROGRAM_FOLDER [LINES]\n";
    return 2;
  }
  const std::size_t lines = argc > 2 ? std::stoul(argv[2]) : 100000;
  Bench::ProgramFolder folder(argv[1]);
  Platform::AppInfo::SetProgramFolder(folder.Path().string());
  const std::string chart = folder.WriteChart("bench_window.csv", lines + 1);

  QApplication application(argc, argv);
  App::QtUi qtUi;
  App::frmMain window;
  qtUi.SetWindow(&window);
  qtUi.SetStatusPanel(window.StatusPanel());
  window.show();
  QApplication::processEvents();
  CountingLabel counter(window.StatusPanel());
  Platform::ScriptedUi runnerUi;
  Bench::DropEvents(runnerUi);

  double windowMs = 1e300, runnerMs = 1e300;
  int paints = 0;
  double paintsPerSecond = 0;
  for (int i = 0; i < 5; ++i) {
    {
      Platform::UiInstallation installation(runnerUi);
      runnerMs = std::min(runnerMs, Bench::ImportMs(folder, chart, lines));
    }
    {
      Platform::UiInstallation installation(qtUi);
      const int before = counter.Paints();
      const auto start = std::chrono::steady_clock::now();
      const double ms = Bench::ImportMs(folder, chart, lines);
      qtUi.FlushStatus();
      const double seconds = Bench::MillisecondsSince(start) / 1000.0;
      if (ms < windowMs) {
        windowMs = ms;
        paints = counter.Paints() - before;
        paintsPerSecond = paints / seconds;
      }
    }
  }
  Bench::Require(window.StatusPanel()->text().startsWith("Importing zones: "), "the window shows the last line");
  std::printf("%-34s %8s %11s %9s\n", "measured (best of a few runs)", "lines", "ms", "us/line");
  std::printf("%-34s %8zu %11.2f %9.2f\n", "import with the scripted Ui", lines, runnerMs, runnerMs * 1000 / lines);
  std::printf("%-34s %8zu %11.2f %9.2f\n", "import in the window (offscreen)", lines, windowMs, windowMs * 1000 / lines);
  std::printf("%-34s %8s %11s\n", "", "paints", "per second");
  std::printf("%-34s %8d %11.1f\n", "status panel paints in the window", paints, paintsPerSecond);
  std::printf("window-ratio %.2f paints-per-second %.1f\n", windowMs / runnerMs, paintsPerSecond);
  return 0;
}
