// Windows: the simulated central serves a named pipe where Linux has a
// pseudo-terminal, and the serial class reads it like a port (the window's
// demo runs on it).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "serial/BlockSerial.h"
#include "sim/SimCentral.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string TempName(const char* what) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "vantrel-pipe-" + std::to_string(GetCurrentProcessId()) + "-" + what;
}

// Reads until the central has ended and the pipe is empty, or 20 s pass.
std::string ReadUntilEnd(TBlockSerial& port, const TSimCentral& sim) {
  std::string got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    const bool ended = sim.Finished();
    got += port.ReadAvailable(100);
    if (ended && got.size() >= sim.BytesSent() && port.BytesWaiting() == 0) break;
  }
  return got;
}

TEST(SimPipe, ReaderGetsExactlyTheBytesSentAndTheLineCallsDoNothing) {
  TSimConfig config;
  config.BytesPerSecond = 20000;
  config.Seconds = 0.5;
  config.Seed = 5;
  config.SaveFile = TempName("sent.bin");
  config.LingerSeconds = 1;
  TSimCentral sim(config);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  ASSERT_EQ(sim.PortPath().rfind("\\\\.\\pipe\\", 0), 0u) << sim.PortPath();

  TBlockSerial port;
  port.OpenPort(sim.PortPath());
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  port.ConfigureLine(9600, 8, "N", 0, false, false);
  EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  EXPECT_EQ(port.LineState().BaudRate, 9600u) << "a pipe keeps the line state it was given";
  EXPECT_EQ(port.ReadModemStatus(), 0u);

  const std::string got = ReadUntilEnd(port, sim);
  sim.Stop();
  EXPECT_TRUE(sim.LastErrorText().empty()) << sim.LastErrorText();
  const std::string sent = ReadFile(config.SaveFile);
  EXPECT_GT(sent.size(), 2000u);
  EXPECT_EQ(sim.BytesSent(), sent.size());
  EXPECT_TRUE(got == sent) << got.size() << " bytes read of " << sent.size();
  DeleteFileA(config.SaveFile.c_str());
}

TEST(SimPipe, CentralWaitsForTheNextReaderAndAGoneCentralIsALostLine) {
  TSimConfig config;
  config.BytesPerSecond = 5000;
  TSimCentral sim(config);
  ASSERT_TRUE(sim.Start()) << sim.LastErrorText();
  for (int reader = 0; reader < 2; ++reader) {
    TBlockSerial port;
    port.OpenPort(sim.PortPath());
    ASSERT_EQ(port.LastErrorCode(), 0) << "reader " << reader << ": " << port.LastErrorText();
    std::string got;
    for (int i = 0; i < 100 && got.size() < 100; ++i) got += port.ReadAvailable(100);
    EXPECT_GE(got.size(), 100u) << "reader " << reader;
    port.ClosePort();
  }
  TBlockSerial port;
  port.OpenPort(sim.PortPath());
  ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
  sim.Stop();
  for (int i = 0; i < 100 && !port.PortLost(); ++i) port.ReadAvailable(100);
  EXPECT_TRUE(port.PortLost()) << port.LastErrorCode() << " " << port.LastErrorText();
  EXPECT_TRUE(sim.LastErrorText().empty()) << sim.LastErrorText();
}

}  // namespace
