// open_capture_bench: opens a capture in the window, as "Otevřít záznam"
// does, on Qt's offscreen platform (or a display when there is one), and
// prints how long it took until the traffic view, the graph, the grid and the
// status panel showed it, the window thread's longest stall meanwhile, the
// memory the process held at its peak and at the end, and what the opened
// capture takes; then it closes it and opens it again (the conversion kept
// from the first time taken).  Then it selects a row in the middle (the grid and the
// status panel as they were then) and times that, and showing every item
// (the calls too) with what that costs.
// Targets: a one-hour capture at 11,520 bytes/s opens in at most 5 s with at
// most 400 MB resident; a day at 960 bytes/s in at most 10 s, and again in at
// most 1 s.
//
//   build-rel/bench/make_capture /tmp/hour.vlog 3600
//   build-rel/bench/open_capture_bench /tmp/hour.vlog
//   build-rel/bench/open_capture_bench --load /tmp/hour.vlog   (no window)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "app/CaptureControl.h"
#include "app/GraphView.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"
#include "session/SessionStore.h"
#include "traffic/TrafficArchive.h"

namespace {

// "VmHWM" (the peak) or "VmRSS" of this process, in MB.
double StatusMb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::strlen(key) + 1)) / 1024.0;
  return 0;
}

double Elapsed(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// --load: the conversion alone, twice, as the window's thread for it runs
// it, without the window (what the window does with the result on its own
// thread is not counted).
int LoadOnly(const char* path, const std::string& root) {
  for (int opening = 1; opening <= 2; ++opening) {
    TCaptureLoad::TOptions options;
    options.StoreRoot = root;
    QElapsedTimer clock;
    clock.start();
    TCaptureLoad load(path, options);
    load.Run();
    const TCaptureContents c = load.Take();
    if (!c.Session) return 1;
    std::printf("load #%d (%s): %.0f ms, %llu items; resident %.0f MB, %.0f MB at the peak\n",
                opening, c.Reused ? "the kept conversion" : "converted", Elapsed(clock),
                static_cast<unsigned long long>(c.Session->History().End()), StatusMb("VmRSS:"),
                StatusMb("VmHWM:"));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool loadOnly = argc == 3 && std::strcmp(argv[1], "--load") == 0;
  if (argc != 2 && !loadOnly) {
    std::fprintf(stderr, "usage: open_capture_bench [--load] CAPTURE\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A cache folder of its own: the first opening converts, whatever earlier
  // runs kept.
  QTemporaryDir cache;
  if (!cache.isValid()) return 1;
  qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
  if (loadOnly) return LoadOnly(argv[2], cache.path().toStdString() + "/captures");
  QApplication app(argc, argv);
  // No settings file is read or written.
  SetSettingsFileName("/nonexistent/open_capture_bench.ini");
  SetMessageBoxHandler([](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
    std::fprintf(stderr, "box: %s\n", qPrintable(text));
    return TMsgResult::Ok;
  });
  TFormVantrelBus window;
  window.resize(1000, 700);
  window.show();
  app.processEvents();
  const double rssBefore = StatusMb("VmRSS:");

  // The window thread's longest stall: a 10 ms timer's lateness.
  QElapsedTimer tickClock;
  double longestStall = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    longestStall = std::max(longestStall, Elapsed(tickClock) - 10);
    tickClock.restart();
  });

  TCaptureControl& captures = *window.Captures();
  auto* view = window.findChild<TTrafficView*>("TrafficView");
  // Opened twice: converted the first time, the kept conversion taken the
  // second (the first closed in between, as when another capture was opened).
  for (int opening = 1; opening <= 2; ++opening) {
    if (opening == 2) {
      captures.CloseCapture();
      app.processEvents();
    }
    QElapsedTimer clock;
    clock.start();
    longestStall = 0;
    tickClock.start();
    probe.start(10);
    if (!captures.OpenCapture(QString::fromLocal8Bit(argv[1]))) return 1;
    if (!captures.WaitLoaded(120000) || !captures.CaptureOpen()) {
      std::fprintf(stderr, "open_capture_bench: the capture did not open\n");
      return 1;
    }
    app.processEvents();  // laid out and painted
    const double openMs = Elapsed(clock);

    const TCaptureContents& c = *captures.Capture();
    std::printf("opened %s (%s): %llu items, %llu bus bytes, %.1f s of traffic\n", argv[1],
                c.Reused ? "the kept conversion" : "converted",
                static_cast<unsigned long long>(c.Session->History().End()),
                static_cast<unsigned long long>(c.Session->History().TotalBytes()),
                static_cast<double>(c.EndUs - c.StartUs) / 1e6);
    std::printf("open #%d: %.0f ms (window thread's longest stall %.0f ms)\n", opening, openMs,
                longestStall);
    // The rows not found while converting are found by the view in slices.
    while (view->Model->Scanning()) app.processEvents(QEventLoop::AllEvents, 50);
    std::printf("all %d rows found: %.0f ms after the start (longest stall %.0f ms)\n",
                view->Model->rowCount(), Elapsed(clock), longestStall);
    std::printf("resident: %.0f MB before, %.0f MB after, %.0f MB at the peak\n", rssBefore,
                StatusMb("VmRSS:"), StatusMb("VmHWM:"));
  }
  probe.stop();
  QElapsedTimer clock;
  // In memory (an archive), or on disk (a session store: its memory only).
  const TCaptureContents& c = *captures.Capture();
  const TTrafficSource& history = c.Session->History();
  const auto* archive = dynamic_cast<const TTrafficArchive*>(&history);
  const auto* store = dynamic_cast<const TSessionStore*>(&history);
  std::printf(
      "%s %.1f MB in memory%s, rows shown %d, snapshots %zu\n",
      archive ? "archive" : "session store",
      static_cast<double>(archive ? archive->MemoryBytes() : store->MemoryBytes()) / 1e6,
      store ? (", " + std::to_string(store->DiskBytes() / 1000000) + " MB on disk").c_str() : "",
      view->Model->rowCount(), c.Session->StateSnapshots());

  // A row in the middle: the grid and the status panel as they were then.
  view->show();
  const int row = view->Model->rowCount() / 2;
  clock.restart();
  view->Table->setCurrentIndex(view->Model->index(row, 0));
  app.processEvents();
  std::printf("row %d selected, its state shown: %.1f ms\n", row, Elapsed(clock));

  // Every item shown, the calls too: a row each (8 bytes) on top.
  TTrafficFilter all;
  all.Kinds = TTrafficFilter::kAllKinds;
  clock.restart();
  view->SetFilter(all);
  app.processEvents();
  std::printf("calls and 1F shown too: %d rows in %.0f ms, resident %.0f MB (peak %.0f MB)\n",
              view->Model->rowCount(), Elapsed(clock), StatusMb("VmRSS:"), StatusMb("VmHWM:"));
  return 0;
}
