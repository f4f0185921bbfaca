// A simulated central: writes bus traffic (generated, or a replayed capture)
// at a given byte rate into a pseudo-terminal it creates (on Windows a named
// pipe, which the serial class opens like a port), or into a real serial
// port, on a thread of its own.  Used by vantrel-sim and by the window's demo
// mode.
//
//   TSimCentral sim(config);
//   if (!sim.Start()) report(sim.LastErrorText());
//   connect to sim.PortPath() ...
//   sim.Stop();
//
// On a pseudo-terminal nothing is sent until a reader has opened the other
// side (bytes written before would be lost to the reader's purge or mangled
// before it sets raw mode), sending pauses while no reader holds it open,
// and at the end the central waits for the reader to take what was sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus/ReplayClock.h"

struct TSimConfig {
  double BytesPerSecond = 960;  // 0: as fast as the line takes them
  uint64_t Seed = 1;
  double Noise = 0;        // probability per byte of a flipped bit or a dropped byte
  std::string ReplayFile;  // play this capture instead of generated traffic
  bool Loop = false;       // replay: start again at the end
  // A capture log plays with its recorded timing, its pauses divided by
  // Speed; with ReplayAtRate it plays at BytesPerSecond like a raw capture
  // (whose rate Speed multiplies).
  double Speed = 1;
  bool ReplayAtRate = false;
  // A forward step of a log's clock beyond this many seconds (a clock set by
  // the network after a start at 1970, a reconnect) plays as a gap: the next
  // read follows at once instead of after days.
  double MaxStepSeconds = TReplayClock::kDefaultMaxStepUs / 1e6;
  double Seconds = 0;  // wall clock from the first reader on; 0: until Stop() (or the replay's end)
  std::string SaveFile;      // exactly the bytes sent
  std::string Port;          // a real serial port; empty: create a pseudo-terminal
  int PortBaud = 9600;       // line speed of the real port
  std::string LinkPath;      // also make this symlink to the pseudo-terminal
  double LingerSeconds = 2;  // at the end: longest wait for the reader to take the rest
};

class TSimCentral {
public:
  explicit TSimCentral(TSimConfig config);
  ~TSimCentral();
  TSimCentral(const TSimCentral&) = delete;
  TSimCentral& operator=(const TSimCentral&) = delete;

  // Opens the pseudo-terminal (or the port) and the save file and starts the
  // sending thread.  False, with LastErrorText(), when something cannot be
  // opened; nothing is left open then.
  bool Start();

  // The path a reader opens: the pseudo-terminal's slave side, or the port.
  const std::string& PortPath() const { return FPortPath; }

  // Ends sending at once, waits for the thread and closes everything (the
  // symlink is removed).  Safe to call more than once.  With linger, the
  // reader first gets up to LingerSeconds to take what was sent, as at the
  // end of a replay (closing throws away what it has not read).
  void Stop(bool linger = false);

  // Called on the sending thread when it has ended by itself (time up,
  // replay finished, write error); not called after Stop().
  void SetOnFinished(std::function<void()> onFinished) { FOnFinished = std::move(onFinished); }
  bool Finished() const { return FFinished.load(); }

  // Empty while all is well.
  std::string LastErrorText() const;
  uint64_t BytesSent() const { return FBytesSent.load(); }
  // Lines of a replayed capture log skipped as malformed so far.
  uint64_t MalformedLines() const { return FMalformed.load(); }

private:
  struct TLogSource;
  bool OpenReplay();
  void Run();
  // Platform part (SimCentral.cpp for POSIX, SimCentralWin.cpp): the pty or
  // the port, the link, the save file and the sender's wake channel.
  bool OpenOutputs();
  void WakeSender();  // ends a pause of the sending thread
  bool OpenPty();
  bool OpenPort();
  bool ReaderAttached() const;
  bool Pause(int ms);  // false when a stop was requested
  bool WriteAll(const std::string& chunk);
  void Linger();
  void SetError(const std::string& text);
  void CloseAll();

  TSimConfig FConfig;
  std::string FPortPath;
  std::unique_ptr<TLogSource> FLog;  // a capture being replayed
  bool FIsPty = false;
  int FFd = -1;
  int FSaveFd = -1;
  int FWake[2] = {-1, -1};
#ifdef _WIN32
  struct TWinLine;  // the COM port or the pipe, and the wake event
  TWinLine* FWinLine = nullptr;
  bool WritePipe(const std::string& chunk);
#endif
  bool FLinkMade = false;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FEnding{false};  // stop sending, then linger
  std::atomic<bool> FFinished{false};
  std::atomic<uint64_t> FBytesSent{0};
  std::atomic<uint64_t> FMalformed{0};
  std::function<void()> FOnFinished;
  mutable std::mutex FErrorLock;
  std::string FError;
};
