// TCaptureWriter: writing a capture log.
#include "capture/CaptureWriter.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/Text.h"
#include "base/UniqueFd.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureIo.h"

namespace {

constexpr std::size_t kZipOutSize = 64 * 1024;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// "SECONDS.MICROSECONDS" into out (at least 28 chars); returns its length.
std::size_t FormatSeconds(int64_t us, char* out) {
  constexpr int64_t kLargest = 999999999999999999;  // twelve digits of seconds, as readers take
  us = std::clamp<int64_t>(us, 0, kLargest);
  char digits[24];
  std::size_t n = 0;
  for (int64_t s = us / 1000000; n == 0 || s > 0; s /= 10) digits[n++] = char('0' + s % 10);
  std::size_t len = 0;
  while (n > 0) out[len++] = digits[--n];
  out[len++] = '.';
  int64_t micro = us % 1000000;
  for (int k = 5; k >= 0; --k, micro /= 10) out[len + k] = char('0' + micro % 10);
  return len + 6;
}

int64_t SteadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string StalledText() { return "it takes no data (a pipe that nobody reads?)"; }

bool ValidKey(std::string_view key) {
  if (key.empty() || key == "gap" || key == "vantrel-capture") return false;
  for (char c : key)
    if (c <= ' ' || c > '~') return false;
  return true;
}

}  // namespace

TCaptureWriter::TCaptureWriter() = default;

TCaptureWriter::~TCaptureWriter() { Close(); }

bool TCaptureWriter::Open(const std::string& path) {
  Close();
  FPath = path;
  FErrorCode = 0;
  FErrorText.clear();
  FBusBytes = FFileBytes = 0;
  FBuffer.clear();
  FBuffer.reserve(kBufferLimit + 4096);
  FBacklog.clear();
  FStalledSinceUs = 0;
  FFd = capture_io::OpenForWriting(path);
  // A named pipe without a reader: opening it would have waited for one.
  if (FFd < 0 && errno == ENXIO) return Fail(ENXIO, "a pipe that nobody reads");
  if (FFd < 0) return Fail(errno, SystemErrorText(errno));
  if (IsCompressedCaptureName(path)) {
    FZip = std::make_unique<z_stream_s>();
    // 15 + 16: a gzip wrapper, so that gzip and zcat read the file too.
    if (deflateInit2(FZip.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      FZip.reset();
      Fail(ENOMEM, SystemErrorText(ENOMEM));
      Release();
      return false;
    }
    FZipOut = std::make_unique_for_overwrite<char[]>(kZipOutSize);
  }
  FBuffer.append(kCaptureFirstLine).push_back('\n');
  FPending = true;
  if (!Push(true)) {
    Release();
    return false;
  }
  return true;
}

void TCaptureWriter::AppendMetadata(std::string_view key, std::string_view value) {
  FBuffer.append("# ").append(key);
  if (!value.empty()) FBuffer.append(" ").append(capture_io::CleanText(value));
  FBuffer.push_back('\n');
}

bool TCaptureWriter::WriteHeader(const TCaptureHeader& header) {
  if (FFd < 0 || Failed()) return false;
  if (!header.Port.empty()) AppendMetadata("port", header.Port);
  if (!header.Line.empty()) AppendMetadata("line", header.Line);
  if (!header.Program.empty()) AppendMetadata("program", header.Program);
  AppendMetadata("start", FormatCaptureTime(header.StartUs));
  return Push(true);
}

bool TCaptureWriter::AddMetadata(std::string_view key, std::string_view value) {
  if (FFd < 0 || Failed() || !ValidKey(key)) return false;
  AppendMetadata(key, value);
  return Push(true);
}

bool TCaptureWriter::AddGap(int64_t gapUs) {
  if (FFd < 0 || Failed()) return false;
  char seconds[32];
  AppendMetadata("gap", std::string_view(seconds, FormatSeconds(gapUs, seconds)));
  return Push(true);
}

bool TCaptureWriter::AddChunk(std::string_view bytes, int64_t timeUs) {
  if (FFd < 0 || Failed()) return false;
  if (bytes.empty()) return FlushIfDue(timeUs);
  if (!FPending) {
    FPending = true;
    FPendingSinceUs = timeUs;
  }
  char stamp[40];
  stamp[0] = '(';
  std::size_t stampLen = 1 + FormatSeconds(timeUs, stamp + 1);
  stamp[stampLen++] = ')';
  for (std::size_t i = 0; i < bytes.size(); i += kCaptureBytesPerLine) {
    const std::size_t n = std::min(kCaptureBytesPerLine, bytes.size() - i);
    const std::size_t at = FBuffer.size();
    FBuffer.resize(at + stampLen + 3 * n + 1);
    char* p = FBuffer.data() + at;
    std::memcpy(p, stamp, stampLen);
    p += stampLen;
    for (std::size_t k = i; k < i + n; ++k) {
      const auto b = static_cast<unsigned char>(bytes[k]);
      p[0] = ' ';
      p[1] = kHexDigits[b >> 4];
      p[2] = kHexDigits[b & 15];
      p += 3;
    }
    *p = '\n';
  }
  FBusBytes += bytes.size();
  if (FBuffer.size() >= kBufferLimit && !Push(false)) return false;
  return FlushIfDue(timeUs);
}

bool TCaptureWriter::FlushIfDue(int64_t nowUs) {
  if (FFd < 0 || Failed()) return false;
  if (!FBacklog.empty() && !Drain()) return false;
  if (!FPending) return true;
  // A clock set back would otherwise hold the lines until it catches up.
  if (nowUs - FPendingSinceUs >= kFlushPeriodUs || nowUs < FPendingSinceUs) return Push(true);
  return true;
}

bool TCaptureWriter::Flush() {
  if (FFd < 0 || Failed()) return false;
  return !FPending || Push(true);
}

bool TCaptureWriter::Close() {
  if (FFd < 0) return !Failed();
  bool ok = !Failed();
  if (ok && FZip) {
    ok = Deflate(Z_FINISH);
  } else if (ok) {
    ok = Push(true);
  }
  // A slow reader of a pipe gets a moment for the rest, not more.
  for (const int64_t end = SteadyUs() + kCloseWaitUs; ok && !FBacklog.empty();) {
    ok = Drain();
    if (!ok || FBacklog.empty()) break;
    if (SteadyUs() >= end) {
      ok = Fail(EAGAIN, StalledText());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Special files (a pipe, /dev/null) cannot be synced; that is no failure.
  if (ok && capture_io::SyncFile(FFd) != 0) ok = Fail(errno, SystemErrorText(errno));
  // close(2) may report a delayed write error (network file systems); on
  // Linux the descriptor is gone whatever it returns, so never retry.
  if (close(FFd) != 0 && ok) ok = Fail(errno, SystemErrorText(errno));
  FFd = -1;
  Release();
  return ok;
}

// Hands FBuffer on: to the kernel, or to the compressor (sync: and flushes
// the compressor to a point a reader can decompress up to).
bool TCaptureWriter::Push(bool sync) {
  if (FFd < 0 || Failed()) return false;
  const bool ok =
      FZip ? Deflate(sync ? Z_SYNC_FLUSH : Z_NO_FLUSH) : WriteRaw(FBuffer.data(), FBuffer.size());
  if (!FZip) FBuffer.clear();
  if (ok && (sync || !FZip)) FPending = false;
  return ok;
}

// Compresses FBuffer (emptying it) with the given flush mode and writes
// what the compressor gives out.
bool TCaptureWriter::Deflate(int flush) {
  z_stream_s& z = *FZip;
  z.next_in = reinterpret_cast<Bytef*>(FBuffer.data());
  z.avail_in = static_cast<uInt>(FBuffer.size());
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(FZipOut.get());
    z.avail_out = static_cast<uInt>(kZipOutSize);
    const int rc = deflate(&z, flush);
    if (rc == Z_STREAM_ERROR) {
      FBuffer.clear();
      return Fail(0, "compression failed");
    }
    const std::size_t produced = kZipOutSize - z.avail_out;
    if (produced > 0 && !WriteRaw(FZipOut.get(), produced)) {
      FBuffer.clear();
      return false;
    }
    const bool done = flush == Z_FINISH ? rc == Z_STREAM_END : z.avail_in == 0 && z.avail_out != 0;
    if (done) break;
  }
  FBuffer.clear();
  return true;
}

bool TCaptureWriter::WriteRaw(const char* data, std::size_t size) {
  FBacklog.append(data, size);
  return Drain();
}

bool TCaptureWriter::Drain() {
  std::size_t done = 0;
  bool stalled = false;
  while (done < FBacklog.size()) {
    const auto n = write(FFd, FBacklog.data() + done, FBacklog.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      stalled = true;
      break;
    }
    const int err = n < 0 && errno != 0 ? errno : EIO;
    FBacklog.clear();
    return Fail(err, SystemErrorText(err));
  }
  FFileBytes += done;
  FBacklog.erase(0, done);
  if (!stalled || done > 0) FStalledSinceUs = 0;
  if (!stalled) return true;
  const int64_t now = SteadyUs();
  if (FStalledSinceUs == 0) FStalledSinceUs = now;
  if (now - FStalledSinceUs >= kStallLimitUs || FBacklog.size() > kBacklogLimit) {
    FBacklog.clear();
    return Fail(EAGAIN, StalledText());
  }
  return true;
}

bool TCaptureWriter::Fail(int code, std::string text) {
  if (!Failed()) {
    FErrorCode = code;
    FErrorText = text.empty() ? "write failed" : std::move(text);
  }
  return false;
}

void TCaptureWriter::Release() {
  if (FFd >= 0) close(FFd);
  FFd = -1;
  if (FZip) deflateEnd(FZip.get());
  FZip.reset();
  FZipOut.reset();
  FBuffer.clear();
  FBacklog.clear();
  FStalledSinceUs = 0;
  FPending = false;
}
