// vVantrelBus: program entry.  Application, main window, configuration
// dialog (whose creation loads the settings), then the event loop.
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "app/AppErrors.h"
#include "app/CaptureControl.h"
#include "app/SessionControl.h"
#include "app/uVantrelBus.h"
#include "base/Process.h"
#include "base/SameFile.h"
#include "config/Settings.h"
#include "config/uVantrelCfg.h"
#include "sim/SimCentral.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0.0.0"
#endif

namespace {

// SIGINT and SIGTERM (Ctrl+C on a Windows console) end the program through
// the event loop, so that the window closes the port and joins the reader
// thread as on a normal close.
void QuitOnSignals(QApplication& app, TSignalWatch& watch) {
  watch.OnStop([&app] {
    QMetaObject::invokeMethod(
        &app,
        [&app] {
          if (FormVantrelBus) FormVantrelBus->close();
          app.quit();
        },
        Qt::QueuedConnection);
  });
}

// Measurement aid (VANTREL_STALL_PROBE=1): a 10 ms timer notes how late the
// window thread serves it, and how much of that delay the thread itself spent
// running (the rest it was waiting for a processor); both longest values are
// printed when the program ends.  Start-up (first show, font loading) is left
// out: the probe starts after two seconds.
void InstallStallProbe(QApplication& app, TSignalWatch& watch) {
  if (qEnvironmentVariableIntValue("VANTREL_STALL_PROBE") == 0) return;
  struct TProbe {
    QElapsedTimer Clock;
    qint64 Cpu = 0;
    qint64 Longest = 0;
    qint64 LongestBusy = 0;
  };
  auto* probe = new TProbe;
  auto* timer = new QTimer(&app);
  timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer, &QTimer::timeout, &app, [probe] {
    const qint64 gap = probe->Clock.restart() - 10;
    const qint64 cpu = ThreadCpuMs();
    const qint64 busy = cpu - probe->Cpu;
    probe->Cpu = cpu;
    probe->Longest = std::max(probe->Longest, gap);
    probe->LongestBusy = std::max(probe->LongestBusy, busy);
  });
  QObject::connect(&app, &QApplication::aboutToQuit, [probe] {
    std::fprintf(
        stderr,
        "window thread longest stall: %lld ms (longest time running between two ticks: %lld ms)\n",
        static_cast<long long>(probe->Longest), static_cast<long long>(probe->LongestBusy));
    delete probe;
  });
  // SIGUSR1 prints the longest values so far and starts them anew, so that a
  // script can measure one stretch of a run (following, then scrolling).
  watch.OnReport([&app, probe] {
    QMetaObject::invokeMethod(
        &app,
        [probe] {
          std::fprintf(stderr,
                       "window thread longest stall since the last report: %lld ms (running: %lld "
                       "ms)\n",
                       static_cast<long long>(probe->Longest),
                       static_cast<long long>(probe->LongestBusy));
          probe->Longest = probe->LongestBusy = 0;
        },
        Qt::QueuedConnection);
  });
  QTimer::singleShot(2000, timer, [probe, timer] {
    probe->Clock.start();
    probe->Cpu = ThreadCpuMs();
    timer->start(10);
  });
}

struct TRunOptions {
  std::string Port;       // --port: this run's port instead of the setting
  bool Connect = false;   // --connect
  bool Demo = false;      // --demo
  double DemoRate = 960;  // --demo-rate, bytes per second
  QString Record;         // --record: a capture log of this run
  QString Open;           // --open: a capture to show
};

// Reads the command line; --help, --version and unknown options end the
// program in here.  False, having said why on stderr, for a bad value.
bool ParseCommandLine(const QApplication& app, TRunOptions& opt) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QString::fromUtf8("Sledování zpráv na sběrnici Vantrel BUS (pouze naslouchá).\n\n"
                        "Příklady:\n"
                        "  vVantrelBus --demo                       simulovaná centrála\n"
                        "  vVantrelBus --port /dev/ttyUSB0 --connect\n"
                        "  vVantrelBus --demo --record provoz.vlog\n"
                        "  vVantrelBus --open provoz.vlog\n"
                        "  vVantrelBus --settings ~/vantrel.ini"));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption settingsOpt(
      "settings", QString::fromUtf8("Soubor nastavení (INI) pro tento běh."), "FILE");
  QCommandLineOption portOpt(
      "port", QString::fromUtf8("Sériový port pro tento běh; do nastavení se neukládá."), "NAME");
  QCommandLineOption connectOpt("connect", QString::fromUtf8("Připojit se hned po startu."));
  QCommandLineOption demoOpt(
      "demo", QString::fromUtf8(
                  "Spustit simulovanou centrálu na pseudoterminálu a hned se k ní připojit."));
  QCommandLineOption rateOpt(
      "demo-rate", QString::fromUtf8("Rychlost simulované centrály v bajtech za sekundu (960)."),
      "BYTES");
  QCommandLineOption recordOpt(
      "record", QString::fromUtf8("Zaznamenávat vše přijaté do souboru (záznam sběrnice)."),
      "FILE");
  QCommandLineOption openOpt(
      "open", QString::fromUtf8("Otevřít záznam sběrnice (bez připojení k portu)."), "FILE");
  parser.addOptions({settingsOpt, portOpt, connectOpt, demoOpt, rateOpt, recordOpt, openOpt});
  parser.process(app);  // --help, --version and unknown options end here

  if (parser.isSet(rateOpt)) {
    bool ok = false;
    opt.DemoRate = parser.value(rateOpt).toDouble(&ok);
    if (!ok || opt.DemoRate < 0) {
      std::fprintf(stderr,
                   "vVantrelBus: --demo-rate needs a number of bytes per second >= 0, got \"%s\"\n",
                   qPrintable(parser.value(rateOpt)));
      return false;
    }
  }
  if (parser.isSet(portOpt) && parser.isSet(demoOpt)) {
    std::fprintf(stderr, "vVantrelBus: --port and --demo exclude each other\n");
    return false;
  }
  if (parser.isSet(openOpt) && (parser.isSet(connectOpt) || parser.isSet(demoOpt))) {
    std::fprintf(stderr,
                 "vVantrelBus: --open shows a capture without a port; it excludes "
                 "--connect and --demo\n");
    return false;
  }
  opt.Record = parser.value(recordOpt);
  opt.Open = parser.value(openOpt);
  // The recording would empty the file before the window reads it.
  if (SameFile(opt.Record.toStdString(), opt.Open.toStdString())) {  // UTF-8, as it takes them
    std::fprintf(stderr, "vVantrelBus: --open and --record name the same file: %s\n",
                 QFile::encodeName(opt.Open).constData());
    return false;
  }
  if (parser.isSet(settingsOpt)) SetSettingsFileName(parser.value(settingsOpt).toStdString());
  opt.Port = parser.value(portOpt).toStdString();
  opt.Connect = parser.isSet(connectOpt);
  opt.Demo = parser.isSet(demoOpt);
  return true;
}

// The simulated central of --demo, with the window pointed at it; none when
// it cannot start (the window and stderr say why).
std::unique_ptr<TSimCentral> StartDemo(TFormVantrelBus& window, double rate) {
  TSimConfig config;
  config.BytesPerSecond = rate;
  config.Seed = static_cast<uint64_t>(QDateTime::currentMSecsSinceEpoch());
  config.LingerSeconds = 0;
  auto sim = std::make_unique<TSimCentral>(config);
  if (sim->Start()) {
    window.SetPortOverride(sim->PortPath());
    window.SetPortCaption(QStringLiteral("demo"));
    return sim;
  }
  const QString why = QString::fromUtf8("Simulovanou centrálu nelze spustit: ") +
                      QString::fromStdString(sim->LastErrorText());
  std::fprintf(stderr, "vVantrelBus: %s\n", qPrintable(why));
  window.LabelError->setText(why);
  window.LabelError->setToolTip(why);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // "--help" and "--version" alone must answer on a terminal without a
  // display too (over ssh, in a package check) instead of aborting in Qt.
  if (argc == 2 && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    const std::string_view arg = argv[1];
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version")
      qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  TVantrelApplication app(argc, argv);
  // Qt's own texts (context menus, standard dialogs) in Czech like the rest.
  QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Czech), "qtbase", "_",
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&qtTexts);
  QApplication::setApplicationName("vVantrelBus");
  QApplication::setApplicationVersion(VANTREL_VERSION);
  TRunOptions opt;
  if (!ParseCommandLine(app, opt)) return 2;
  TSignalWatch watch;  // ends before the application it posts to
  QuitOnSignals(app, watch);
  InstallStallProbe(app, watch);

  auto window = std::make_unique<TFormVantrelBus>();
  FormVantrelBus = window.get();
  auto dialog = std::make_unique<TFormVantrelCfg>(window.get());  // loads the settings
  FormVantrelCfg = dialog.get();
  if (!opt.Port.empty()) window->SetPortOverride(opt.Port);
  std::unique_ptr<TSimCentral> sim = opt.Demo ? StartDemo(*window, opt.DemoRate) : nullptr;

  window->show();
  // Not modal: a demo or a connection asked for goes on beside it.
  window->Sessions()->OfferPrevious();
  if (!opt.Record.isEmpty()) window->Captures()->StartRecording(opt.Record);
  if (opt.Connect || sim) window->PressConnect();
  if (!opt.Open.isEmpty()) window->Captures()->OpenCapture(opt.Open);
  const int rc = app.exec();
  FormVantrelCfg = nullptr;
  dialog.reset();
  window.reset();  // closes the port and joins the reader thread
  if (sim) sim->Stop();
  return rc;
}
