// Standard output of vantrel-dump: the lines of one drain in one write.
#include "DumpOutput.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

bool IsRegularFile(std::FILE* stream) {
  struct stat st {};
  return fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TDumpOutput::TDumpOutput(std::FILE* stream)
    : FStream(stream), FInteractive(!IsRegularFile(stream)) {
  // Full buffering also on a terminal: the flushes below decide when a
  // batch goes out, not each line end.
  std::setvbuf(FStream, nullptr, _IOFBF, kBufferSize);
}

bool TDumpOutput::Write(std::string& text, int64_t nowUs) {
  if (text.empty()) return true;
  const bool ok = std::fwrite(text.data(), 1, text.size(), FStream) == text.size();
  text.clear();
  if (!ok) return Failed();
  if (FInteractive) return Flush();
  if (!FPending) {
    FPending = true;
    FPendingSinceUs = nowUs;
  }
  return FlushIfDue(nowUs);
}

bool TDumpOutput::FlushIfDue(int64_t nowUs) {
  // A clock set back must not hold the lines until it catches up.
  if (FPending && (nowUs - FPendingSinceUs >= kFilePeriodUs || nowUs < FPendingSinceUs))
    return Flush();
  return true;
}

bool TDumpOutput::Flush() {
  FPending = false;
  return std::fflush(FStream) == 0 || Failed();
}

bool TDumpOutput::Failed() {
  if (FError == 0) FError = errno != 0 ? errno : EIO;
  return false;
}
