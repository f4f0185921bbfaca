// Reading any compressed file as a capture, and any text compressed: no
// crash, no data taken from a file that is not gzip, and a compressed file
// reads exactly as its plain text does.  The first byte picks the case.
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/CaptureReader.h"

namespace {

// A file of this process under a name ending in ".gz" (the reader goes by
// the name), and a plain one.
struct TFiles {
  int Gz = memfd_create("capture.gz", 0);
  int Plain = memfd_create("capture", 0);
  std::string GzName = "/tmp/vantrel-fuzz-" + std::to_string(getpid()) + ".vlog.gz";
  TFiles() {
    unlink(GzName.c_str());
    if (Gz < 0 || Plain < 0 ||
        symlink(("/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(Gz)).c_str(),
                GzName.c_str()) != 0)
      std::abort();
  }
  ~TFiles() { unlink(GzName.c_str()); }
};

void Put(int fd, const std::string& data) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, data.data(), data.size(), 0) != static_cast<ssize_t>(data.size()))
    std::abort();
}

std::string Gzip(const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct TRead {
  bool Opened = false, IsLog = false, Truncated = false;
  std::string Error;
  std::vector<TCaptureItem> Items;
};

TRead ReadAll(const std::string& name) {
  TRead r;
  TCaptureReader in;
  r.Opened = in.Open(name);
  if (!r.Opened) return r;
  r.IsLog = in.IsLog();
  TCaptureItem item;
  std::string raw;
  while (in.Next(item)) {
    if (r.IsLog)
      r.Items.push_back(item);
    else
      raw += item.Bytes;  // a raw capture's reads may be cut anywhere
  }
  if (!r.IsLog) r.Items.push_back({TCaptureKind::ckChunk, 0, kNoCaptureTime, 0, raw});
  r.Error = in.LastErrorText();
  r.Truncated = in.Truncated();
  return r;
}

bool Same(const TCaptureItem& a, const TCaptureItem& b) {
  return a.Kind == b.Kind && a.Line == b.Line && a.TimeUs == b.TimeUs && a.GapUs == b.GapUs &&
         a.Bytes == b.Bytes && a.Key == b.Key && a.Text == b.Text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFiles files;
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    // Any bytes as a compressed file: refused, or read without a crash.
    Put(files.Gz, input);
    const TRead r = ReadAll(files.GzName);
    if (r.Opened && (input.size() < 2 || input[0] != '\x1f' || input[1] != '\x8b')) std::abort();
    return 0;
  }
  // Any text, compressed whole: the same items as the text itself.
  Put(files.Gz, Gzip(input));
  Put(files.Plain, input);
  const TRead packed = ReadAll(files.GzName);
  const TRead plain = ReadAll("/proc/self/fd/" + std::to_string(files.Plain));
  if (packed.Opened != plain.Opened || packed.IsLog != plain.IsLog || packed.Error != plain.Error ||
      packed.Truncated != plain.Truncated || packed.Items.size() != plain.Items.size())
    std::abort();
  for (std::size_t i = 0; i < plain.Items.size(); ++i)
    if (!Same(packed.Items[i], plain.Items[i])) std::abort();
  return 0;
}
