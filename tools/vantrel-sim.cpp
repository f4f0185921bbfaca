// vantrel-sim: a simulated central.  Writes realistic bus traffic, or a
// replayed capture, into a pseudo-terminal it creates (its path is the first
// line of output) or into a real serial port, at a given byte rate.  On
// Windows only a serial port (--port COMn, e.g. one end of a null-modem pair).
#include <getopt.h>
#include <signal.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <string>

#include "ToolCommon.h"
#include "base/SameFile.h"
#include "sim/SimCentral.h"

namespace {

const char* const kUsage =
    "Usage: vantrel-sim [OPTIONS]\n"
    "Simulated central of the Vantrel BUS: writes call bytes, device messages and\n"
    "the central's status into a new pseudo-terminal (its path is printed as the\n"
    "first line) or into a real serial port.\n"
    "\n"
    "  --rate BYTES     bytes per second; 0 = as fast as the reader takes them\n"
    "                   (default 960, a 9600 baud line); given, it also replaces\n"
    "                   the recorded timing of a capture log\n"
    "  --baud N         line speed; the rate becomes N/10 bytes per second\n"
    "                   (with --port also the port's speed; 0 = as fast as possible)\n"
    "  --seed N         random seed; the same seed gives the same traffic (default 1)\n"
    "  --noise P        probability per byte (0..1) of a flipped bit or a dropped byte\n"
    "  --replay FILE    send a capture instead of generated traffic: a capture log\n"
    "                   with its recorded timing, a raw capture at the rate\n"
    "                   (a name ending in .gz is read compressed)\n"
    "  --speed F        with --replay: play F times as fast (0.5 = half as fast)\n"
    "  --loop           with --replay: start again at the end of the capture\n"
    "  --max-step S     with --replay of a log: a jump of its clock of more than S\n"
    "                   seconds plays as a gap, without a pause (default 10)\n"
    "  --seconds N      stop N seconds (decimals allowed) after the first reader\n"
    "                   opened the line, whether or not a reader is still there\n"
    "  --save FILE      write exactly the bytes sent to FILE\n"
    "  --port NAME      write to this serial port instead of a pseudo-terminal\n"
    "                   (on Windows required: COM1, COM2, ...)\n"
    "  --link PATH      also make PATH a symbolic link to the pseudo-terminal\n"
    "                   (Linux only)\n"
    "  --linger N       at the end wait up to N seconds for the reader to close\n"
    "                   the pseudo-terminal, so it can take the rest; with --port\n"
    "                   for the port to send what is queued (default 2)\n"
    "  --help, --version\n"
    "\n"
    "Pseudo-terminals exist on Linux only.  Sending starts when a reader opens the\n"
    "pseudo-terminal and pauses while none does; when the reader leaves, the\n"
    "simulator waits for the next one (the traffic goes on where it paused) until\n"
    "--seconds is up or it is stopped (Ctrl-C, SIGTERM).\n"
    "\n"
    "Examples:\n"
    "  vantrel-sim --baud 115200 --link /tmp/vantrel\n"
    "  vantrel-sim --seed 7 --seconds 10 --save run.bin\n"
    "  vantrel-sim --replay run.bin --loop --rate 2000 --noise 0.001\n"
    "  vantrel-sim --replay run.vlog --speed 2 --link /tmp/vantrel\n"
    "  vantrel-sim --port /dev/ttyUSB1 --baud 9600\n"
    "  vantrel-sim --port COM4 --baud 9600          (Windows)\n";

int Usage(const char* message) {
  std::fprintf(stderr, "vantrel-sim: %s\n\n%s", message, kUsage);
  return 2;
}

// The letters only tell the options apart: no short option is accepted.
const option kOptions[] = {
    {"rate", required_argument, nullptr, 'r'},     {"baud", required_argument, nullptr, 'b'},
    {"seed", required_argument, nullptr, 's'},     {"noise", required_argument, nullptr, 'n'},
    {"replay", required_argument, nullptr, 'R'},   {"loop", no_argument, nullptr, 'l'},
    {"seconds", required_argument, nullptr, 'S'},  {"save", required_argument, nullptr, 'w'},
    {"port", required_argument, nullptr, 'p'},     {"link", required_argument, nullptr, 'L'},
    {"linger", required_argument, nullptr, 'g'},   {"speed", required_argument, nullptr, 'x'},
    {"max-step", required_argument, nullptr, 'm'}, {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},        {nullptr, 0, nullptr, 0}};

// A number option's value into out; false, after the usage, when it is no
// number in [low, high] (or equals low where above is asked).
bool NumberOption(const char* name, const char* want, double low, double high, double& out,
                  bool above = false) {
  double d = 0;
  if (!ParseDouble(optarg, low, high, d) || (above && d <= low)) {
    Usage(
        ("invalid --" + std::string(name) + " '" + (optarg ? optarg : "") + "': " + want).c_str());
    return false;
  }
  out = d;
  return true;
}

// The options that depend on each other.
int CheckOptions(TSimConfig& config, bool haveRate, bool haveBaud, uint64_t baud, bool haveSpeed) {
  if (haveRate && haveBaud && config.Port.empty())
    return Usage("give either --rate or --baud, not both");
  if (config.Loop && config.ReplayFile.empty()) return Usage("--loop needs --replay");
  if (haveSpeed && config.ReplayFile.empty()) return Usage("--speed needs --replay");
  config.ReplayAtRate = haveRate;
  if (!config.Port.empty() && !config.LinkPath.empty())
    return Usage("--link makes a link to a pseudo-terminal; it cannot be used with --port");
#ifdef _WIN32
  if (config.Port.empty())
    return Usage("give the serial port with --port COMn (pseudo-terminals exist on Linux only)");
#endif
  if (haveBaud) {
    if (!haveRate) config.BytesPerSecond = static_cast<double>(baud) / 10.0;
    if (baud > 0)
      config.PortBaud = static_cast<int>(baud);
    else if (!config.Port.empty())
      return Usage("--port needs a line speed above 0");
  }
  return -1;
}

// Reads the options into config: -1 to go on, or the exit status (after the
// usage, the help or the version).
int ParseOptions(int argc, char** argv, TSimConfig& config) {
  bool haveRate = false, haveBaud = false, haveSpeed = false;
  uint64_t baud = 9600;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
    const std::string value = optarg ? optarg : "";
    uint64_t u = 0;
    switch (c) {
      case 'r':
        if (!NumberOption("rate", "bytes per second, 0 or more", 0, 1e9, config.BytesPerSecond))
          return 2;
        haveRate = true;
        break;
      case 'b':
        if (!ParseUnsigned(optarg, 10'000'000, u))
          return Usage(("invalid --baud '" + value + "': a whole number, 0 or more").c_str());
        baud = u;
        haveBaud = true;
        break;
      case 's':
        if (!ParseUnsigned(optarg, UINT64_MAX, u))
          return Usage(("invalid --seed '" + value + "': a whole number").c_str());
        config.Seed = u;
        break;
      case 'n':
        if (!NumberOption("noise", "a probability from 0 to 1", 0, 1, config.Noise)) return 2;
        break;
      case 'R':
        config.ReplayFile = value;
        break;
      case 'l':
        config.Loop = true;
        break;
      case 'S':
        if (!NumberOption("seconds", "a number above 0", 0, 1e7, config.Seconds, true)) return 2;
        break;
      case 'w':
        config.SaveFile = value;
        break;
      case 'p':
        config.Port = value;
        break;
      case 'L':
        config.LinkPath = value;
        break;
      case 'g':
        if (!NumberOption("linger", "seconds, 0 to 3600", 0, 3600, config.LingerSeconds)) return 2;
        break;
      case 'm':
        if (!NumberOption("max-step", "seconds, 0 or more", 0, 1e9, config.MaxStepSeconds))
          return 2;
        break;
      case 'x':
        if (!NumberOption("speed", "a factor above 0", 0, 1e6, config.Speed, true)) return 2;
        haveSpeed = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case 'V':
        std::printf("vantrel-sim %s\n", VANTREL_VERSION);
        return 0;
      default: {
        const std::string bad = optind > 1 && optind - 1 < argc ? argv[optind - 1] : "?";
        return Usage(optopt ? ("option " + bad + " needs a value").c_str()
                            : ("unknown option " + bad).c_str());
      }
    }
  }
  if (optind < argc)
    return Usage((std::string("unexpected argument '") + argv[optind] + "'").c_str());
  if (SameFile(config.ReplayFile, config.SaveFile))
    return Usage(("--replay and --save name the same file: " + config.SaveFile).c_str());
  return CheckOptions(config, haveRate, haveBaud, baud, haveSpeed);
}

#ifdef _WIN32
// Ctrl-C, Ctrl-Break, the console closing and the sending thread's end all
// set this event.
HANDLE EndEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(EndEvent);
  return TRUE;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  UseUtf8Arguments(argc, argv);
  SetConsoleOutputCP(CP_UTF8);  // its messages name files as given
#endif
  TSimConfig config;
  if (const int rc = ParseOptions(argc, argv, config); rc >= 0) return rc;

#ifdef _WIN32
  EndEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  TSimCentral sim(config);
  sim.SetOnFinished([] { SetEvent(EndEvent); });
  if (!sim.Start()) {
    std::fprintf(stderr, "vantrel-sim: %s\n", sim.LastErrorText().c_str());
    return 1;
  }
  std::printf("%s\n", sim.PortPath().c_str());
  std::fflush(stdout);
  WaitForSingleObject(EndEvent, INFINITE);
#else
  // Signals are taken by sigwait below; every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);  // the sending thread has ended by itself
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TSimCentral sim(config);
  sim.SetOnFinished([] { kill(getpid(), SIGUSR1); });
  if (!sim.Start()) {
    std::fprintf(stderr, "vantrel-sim: %s\n", sim.LastErrorText().c_str());
    return 1;
  }
  std::printf("%s\n", sim.PortPath().c_str());
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&signals, &sig) == 0 && sig == SIGUSR1 && !sim.Finished()) {}
#endif
  // On a signal too, the reader gets the --linger time to take the rest.
  sim.Stop(true);
  const std::string error = sim.LastErrorText();
  if (!error.empty()) {
    std::fprintf(stderr, "vantrel-sim: %s\n", error.c_str());
    return 1;
  }
  if (const uint64_t bad = sim.MalformedLines())
    std::fprintf(stderr, "vantrel-sim: %llu malformed lines of %s skipped\n",
                 static_cast<unsigned long long>(bad), config.ReplayFile.c_str());
  std::fprintf(stderr, "vantrel-sim: %llu bytes sent\n",
               static_cast<unsigned long long>(sim.BytesSent()));
  return 0;
}
