// resync_check: how much of a simulated run the framing gives back.  The
// sim's seed and noise fix every item it sent, so the valid messages among
// them (two bytes or more, untouched by the noise) and where each began in
// the stream are known; vantrel-dump's lines (live or --file) give the items
// as framed.  Prints the share of bytes in unrecognised items (first byte of
// no known kind) and the share of valid messages that came out whole.
//
//   resync_check SEED NOISE SENT.bin DUMP.out
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unordered_map>

#include "bus/uVantrelSeq.h"
#include "sim/SimTraffic.h"

namespace {

ByteString ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return ByteString(std::istreambuf_iterator<char>(in), {});
}

// The hex part of a dump line (before a tab) as bytes.
ByteString ParseLine(const std::string& line) {
  ByteString item;
  std::istringstream hex(line.substr(0, line.find('\t')));
  for (std::string b; hex >> b;) item.push_back(static_cast<char>(std::stoi(b, nullptr, 16)));
  return item;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: resync_check SEED NOISE SENT.bin DUMP.out\n");
    return 2;
  }
  const uint64_t seed = std::strtoull(argv[1], nullptr, 10);
  const double noise = std::strtod(argv[2], nullptr);
  const ByteString sent = ReadAll(argv[3]);

  // What the sim sent, item by item, as its sending thread makes it.
  TSimTraffic traffic(seed);
  TSimNoise damage(noise, seed);
  std::unordered_map<std::size_t, ByteString> valid;  // offset -> message
  std::size_t offset = 0, mismatch = 0;
  while (offset < sent.size()) {
    const ByteString item = traffic.NextItem();
    const ByteString noisy = damage.Apply(item);
    if (noisy.empty()) continue;
    if (sent.compare(offset, noisy.size(), noisy) != 0) ++mismatch;
    if (item.size() >= 2 && noisy == item && offset + item.size() <= sent.size())
      valid.emplace(offset, item);
    offset += noisy.size();
  }

  std::ifstream dump(argv[4]);
  std::size_t at = 0, items = 0, unknownItems = 0, unknownBytes = 0, largest = 0, found = 0;
  bool same = true;
  for (std::string line; std::getline(dump, line);) {
    const ByteString item = ParseLine(line);
    if (item.empty()) continue;
    ++items;
    if (CheckedMessageLength(item.substr(0, 1)) == 0) {
      ++unknownItems;
      unknownBytes += item.size();
      largest = std::max(largest, item.size());
    }
    if (auto it = valid.find(at); it != valid.end() && it->second == item) ++found;
    same = same && sent.compare(at, item.size(), item) == 0;
    at += item.size();
  }
  std::printf(
      "bytes sent %zu, framed %zu (%s); items %zu\n"
      "unrecognised: %zu items, %zu bytes = %.2f %% of the bytes, largest %zu\n"
      "valid messages sent %zu, come out whole %zu = %.3f %%\n",
      sent.size(), at, same && at == sent.size() ? "the same bytes" : "NOT the bytes sent", items,
      unknownItems, unknownBytes, at ? 100.0 * static_cast<double>(unknownBytes) / at : 0.0,
      largest, valid.size(), found,
      valid.empty() ? 100.0 : 100.0 * static_cast<double>(found) / valid.size());
  if (mismatch) std::printf("WARNING: %zu items differ from the saved bytes\n", mismatch);
  return 0;
}
