// playback_cpu: the window's processor time while it plays an opened capture
// at a speed, against the same window connected to a port that carries the
// traffic live (e.g. vantrel-sim --rate 11520).  Both are measured the same
// way in this process (user + system time over the interval after a warm-up
// of 2 s), with the grid shown, on the display there is (or offscreen).
// Target (issue 30): playing at 1x costs no more than the live window at the
// capture's rate.
//
//   build-rel/bench/make_capture /tmp/play.vlog 120
//   build-rel/bench/playback_cpu play /tmp/play.vlog 20 [SPEED]
//   vantrel-sim --rate 11520 --link /tmp/bus &  build-rel/bench/playback_cpu live /tmp/bus 20
#include <QApplication>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CaptureControl.h"
#include "app/PlaybackControl.h"
#include "app/uVantrelBus.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"
#include "session/BusSession.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[1], "play") != 0 && std::strcmp(argv[1], "live") != 0)) {
    std::fprintf(stderr, "usage: playback_cpu play CAPTURE SECONDS [SPEED] | live PORT SECONDS\n");
    return 2;
  }
  const bool play = std::strcmp(argv[1], "play") == 0;
  const double seconds = std::atof(argv[3]);
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SetSettingsFileName("/nonexistent/playback_cpu.ini");
  SetMessageBoxHandler([](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
    std::fprintf(stderr, "box: %s\n", qPrintable(text));
    return TMsgResult::Ok;
  });
  TFormVantrelBus window;
  window.show();
  app.processEvents();
  if (play) {
    if (!window.Captures()->OpenCapture(QString::fromLocal8Bit(argv[2])) ||
        !window.Captures()->WaitLoaded(600000) || !window.Captures()->CaptureOpen())
      return 1;
    window.Playback()->SetSpeed(argc > 4 ? std::atof(argv[4]) : 1);
    if (!window.Playback()->Play()) return 1;
  } else {
    window.SetPortOverride(argv[2]);
    window.PressConnect();
  }
  double cpu0 = 0;
  uint64_t items0 = 0;
  auto items = [&] {
    return play ? window.Playback()->Session()->Traffic().TotalItems()
                : window.Traffic().TotalItems();
  };
  QTimer::singleShot(2000, [&] {
    cpu0 = CpuSeconds();
    items0 = items();
  });
  QTimer::singleShot(static_cast<int>(2000 + seconds * 1000), [&] {
    const double cpu = CpuSeconds() - cpu0;
    std::printf("%s: %.2f %% of a core over %.0f s, %llu items\n", play ? "playback" : "live",
                100 * cpu / seconds, seconds, static_cast<unsigned long long>(items() - items0));
    app.quit();
  });
  return app.exec();
}
