// store_view_bench: the traffic view over a long session on disk, driven as
// the window drives it.  SECONDS of the simulated central at RATE bytes/s go
// into a session store (as session_bench feeds it), one marker item at the
// very end; then the real view (offscreen) is pointed at the store and
// changes filter, finds and saves the shown rows, each run through the
// event loop until it is complete, while a 1 ms timer beside it records the
// longest gap between its ticks: how long the window thread was held at a
// stretch.
//
//   store_view_bench SECONDS [RATE]      (RATE default 11520)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "app/TrafficView.h"
#include "session/BusSession.h"
#include "session/SessionStore.h"
#include "sim/SimTraffic.h"

namespace {

// The longest gap between ticks of a timer that wants to run every ms.
class TStallMeter {
public:
  TStallMeter() {
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(1);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const double gap = FSince.nsecsElapsed() / 1e6;
      FLongest = std::max(FLongest, gap);
      FOver60 += gap > 60;
      FSince.restart();
    });
  }
  // Gaps over 60 ms since Start.
  int Over60() const { return FOver60; }
  void Start() {
    FLongest = 0;
    FOver60 = 0;
    FSince.start();
    FTimer.start();
  }
  // The gap still open counts too.
  double Stop() {
    FTimer.stop();
    return std::max(FLongest, FSince.nsecsElapsed() / 1e6);
  }

private:
  QTimer FTimer;
  QElapsedTimer FSince;
  double FLongest = 0;
  int FOver60 = 0;
};

// Runs the event loop until done() holds, checking after every event batch.
void RunUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  check.setInterval(0);
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start();
  if (!done()) loop.exec();
}

double Ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

double Load() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void Filter(TTrafficView& view, TStallMeter& meter, const char* what, const TTrafficFilter& f,
            const std::function<void()>& apply = {}) {
  QElapsedTimer clock;
  meter.Start();
  clock.start();
  if (apply)
    apply();
  else
    view.SetFilter(f);
  const double now = Ms(clock);
  double first = -1;
  RunUntil([&] {
    if (first < 0 && view.Model->rowCount() >= 50) first = Ms(clock);
    return !view.Model->Scanning();
  });
  const double all = Ms(clock);
  if (first < 0) first = all;
  const double stall = meter.Stop();
  std::printf(
      "%-34s first 50 rows %7.1f ms, all %9d rows %7.0f ms, longest stall %5.1f ms "
      "(%d over 60 ms; the call itself %.1f ms; load %.1f)\n",
      what, first, view.Model->rowCount(), all, stall, meter.Over60(), now, Load());
}

void Find(TTrafficView& view, TStallMeter& meter, const char* what, const char* text) {
  view.Table->setCurrentIndex(view.Model->index(0, 0));
  view.EditFind->setText(QString::fromUtf8(text));
  bool ended = false, found = false;
  QMetaObject::Connection c =
      QObject::connect(&view, &TTrafficView::FindDone, [&](bool f) { ended = true, found = f; });
  QElapsedTimer clock;
  meter.Start();
  clock.start();
  found = view.FindNext(true);
  const double now = Ms(clock);
  if (!view.Finding()) ended = true;
  RunUntil([&] { return ended; });
  const double ms = Ms(clock);
  const double stall = meter.Stop();
  QObject::disconnect(c);
  const int row = view.Table->currentIndex().row();
  std::printf(
      "%-34s %s row %d (item %llu) of %d in %7.0f ms, longest stall %5.1f ms "
      "(%d over 60 ms; the call itself %.1f ms; load %.1f)\n",
      what, found ? "found at" : "not found, at", row,
      static_cast<unsigned long long>(row >= 0 ? view.Model->SeqAt(row) : 0),
      view.Model->rowCount(), ms, stall, meter.Over60(), now, Load());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: store_view_bench SECONDS [RATE]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long seconds = std::strtol(argv[1], nullptr, 10);
  const long rate = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 11520;
  char tmpl[] = "/tmp/store-view-bench-XXXXXX";
  const std::string root = ::mkdtemp(tmpl);

  constexpr int64_t kT0 = 1796738585000000;
  TBusSession session;
  {
    auto store = std::make_unique<TSessionStore>();
    if (!store->Create(root, kT0)) {
      std::fprintf(stderr, "store_view_bench: %s\n", store->ErrorText().c_str());
      return 1;
    }
    session.AttachStore(std::move(store));
  }
  session.BeginSession(kT0);
  TSimTraffic traffic(1);
  const std::size_t perRead = static_cast<std::size_t>(rate / 100);
  QElapsedTimer clock;
  clock.start();
  int64_t t = kT0;
  for (long read = 0; read < seconds * 100; ++read) {
    t = kT0 + read * 10000;
    for (std::size_t got = 0; got < perRead;) {
      const ByteString item = traffic.NextItem();
      session.Take(t, item);
      got += item.size();
    }
    session.FlushIfDue(t);
  }
  // The far match: a device message no simulated device sends.
  session.Take(t + 1000, ByteString("\x45\x00\x7e\x7e\x7e\x7e", 6));
  session.Store()->Flush();
  const TTrafficSource& history = session.History();
  std::printf("%ld s at %ld B/s: %llu items in the store, fed in %.0f ms (load %.1f)\n", seconds,
              rate, static_cast<unsigned long long>(history.End()), Ms(clock), Load());

  TTrafficRing empty;
  TTrafficView view(empty);
  view.resize(900, 700);
  view.show();
  app.processEvents();
  TStallMeter meter;
  auto paint = [&] {
    QElapsedTimer t;
    t.start();
    view.repaint();
    return Ms(t);
  };

  Filter(view, meter, "open, default filter (calls hidden)", {}, [&] { view.SetSource(history); });
  TTrafficFilter text;
  text.Text = "Loko";
  Filter(view, meter, "filter \"Loko\"", text);
  TTrafficFilter all;
  all.Kinds = TTrafficFilter::kAllKinds;
  Filter(view, meter, "all kinds (calls, 1F)", all);
  std::printf("the view painted: %.1f ms, again %.1f ms\n", paint(), paint());
  Find(view, meter, "find, all rows: far match", "7E 7E 7E 7E");
  Find(view, meter, "find, all rows: no match", "no such text");
  Filter(view, meter, "default filter again", TTrafficFilter{});
  Find(view, meter, "find, default rows: far match", "7E 7E 7E 7E");
  Find(view, meter, "find, default rows: no match", "no such text");

  // Saving the shown rows (the default filter's), as "Uložit zobrazené
  // řádky…" does.
  {
    const QString path = QString::fromStdString(root + "/shown.txt");
    bool ended = false, ok = false;
    QMetaObject::Connection c =
        QObject::connect(&view, &TTrafficView::ExportDone,
                         [&](bool saved, const QString&) { ended = true, ok = saved; });
    QString error;
    QElapsedTimer clock;
    meter.Start();
    clock.start();
    ok = view.Export(path, false, error);
    const double now = Ms(clock);
    if (!view.Exporting()) ended = true;
    RunUntil([&] { return ended; });
    const double ms = Ms(clock);
    const double stall = meter.Stop();
    QObject::disconnect(c);
    std::error_code size;
    std::printf(
        "save the %d shown rows: %s, %.1f MB in %7.0f ms, longest stall %5.1f ms "
        "(%d over 60 ms; the call itself %.1f ms; load %.1f)\n",
        view.Model->rowCount(), ok ? "saved" : "failed",
        std::filesystem::file_size(path.toStdString(), size) / 1e6, ms, stall, meter.Over60(), now,
        Load());
  }

  session.Store()->Close();
  std::filesystem::remove_all(root);
  return 0;
}
