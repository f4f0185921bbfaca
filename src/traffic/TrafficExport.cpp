// Saving the traffic history as vantrel-dump's lines.
#include "traffic/TrafficExport.h"

#include "base/SaveFile.h"

bool TrafficLines(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                  int maxLoko, const std::function<bool(std::string_view)>& sink) {
  int64_t previous = 0;
  std::string line;
  auto one = [&](uint64_t seq) {
    const int64_t timeUs = ring.TimeUs(seq);
    line.clear();  // one buffer for every line
    AppendTrafficTimePrefix(line, mode, timeUs, previous, ring.SessionStart(seq));
    AppendTrafficItemLine(line, ring.Bytes(seq), maxLoko);
    previous = timeUs;
    return sink(line);
  };
  if (rows) {
    for (std::size_t r = 0; r < rows->Rows(); ++r) {
      const uint64_t seq = rows->SeqAt(r);
      if (ring.Holds(seq) && !one(seq)) return false;
    }
  } else {
    for (uint64_t seq = ring.First(); seq < ring.End(); ++seq)
      if (!one(seq)) return false;
  }
  return true;
}

bool ExportTraffic(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                   int maxLoko, const std::string& path, std::string& error, uint64_t* lineCount) {
  uint64_t lines = 0;
  const bool saved = SaveFileWhole(
      path,
      [&](TFileSink& file) {
        return TrafficLines(ring, rows, mode, maxLoko, [&](std::string_view line) {
          ++lines;
          return file.Write(line) && file.Write("\n");
        });
      },
      error);
  if (saved && lineCount) *lineCount = lines;
  return saved;
}
