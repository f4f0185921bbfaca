// Saving a file whole or not at all: the part every platform shares.
#include "base/SaveFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "base/SaveFileOs.h"
#include "base/Text.h"
#include "base/UniqueFd.h"

namespace {

// Writes, flushes and, for a file of its own, syncs; the result of the
// writing step.
TSaveResult Produce(int fd, const std::function<bool(TFileSink&)>& produce, bool sync) {
  TFileSink sink(fd);
  int err = 0;
  if (!produce(sink))
    err = sink.Error() != 0 ? sink.Error() : ECANCELED;
  else if (!sink.Flush())
    err = sink.Error();
  else if (sync)
    err = SaveFileOs::Sync(fd);
  return {err, err != 0 ? TSaveStep::ssWrite : TSaveStep::ssNone};
}

// Ends the writing step: the descriptor is closed in every case, and a
// failing close is the step's failure when it had none.
TSaveResult Finish(int fd, TSaveResult written) {
  const int err = SaveFileOs::Close(fd);
  if (written && err != 0) written = {err, TSaveStep::ssWrite};
  return written;
}

TSaveResult WriteInto(const std::string& device, const std::function<bool(TFileSink&)>& produce) {
  const int fd = SaveFileOs::OpenDirect(device);
  if (fd < 0) return {errno, TSaveStep::ssCreate};
  // A device has nothing to flush to a disk, and may say so.
  return Finish(fd, Produce(fd, produce, false));
}

}  // namespace

bool TFileSink::Write(std::string_view data) {
  if (FError != 0) return false;
  if (FBuffer.size() + data.size() > kBufferSize) {
    if (!Flush()) return false;
    if (data.size() >= kBufferSize) {  // large pieces go out as they are
      if (WriteAll(FFd, data)) return true;
      FError = errno != 0 ? errno : EIO;
      return false;
    }
  }
  if (FBuffer.capacity() < kBufferSize) FBuffer.reserve(kBufferSize);
  FBuffer.append(data);
  return true;
}

bool TFileSink::Flush() {
  if (FError != 0) return false;
  if (!FBuffer.empty() && !WriteAll(FFd, FBuffer)) {
    FError = errno != 0 ? errno : EIO;
    return false;
  }
  FBuffer.clear();
  return true;
}

std::string SaveTempPrefix(const std::string& file) { return file + ".~"; }

unsigned long SaveTempOwner(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return 0;
  const std::string_view rest = name.substr(prefix.size());
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size() ||
      rest.find_first_not_of("0123456789.") != std::string_view::npos ||
      rest.find('.', dot + 1) != std::string_view::npos)
    return 0;
  return std::strtoul(std::string(rest.substr(0, dot)).c_str(), nullptr, 10);
}

unsigned long SaveCopyOwner(std::string_view name, std::string_view prefix) {
  constexpr std::string_view kSuffix = ".new";
  if (!name.starts_with(prefix) || !name.ends_with(kSuffix)) return 0;
  const std::string_view pid =
      name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
  if (pid.empty() || pid.size() > 10 ||
      pid.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  return std::strtoul(std::string(pid).c_str(), nullptr, 10);
}

TSaveResult SaveFileWhole(const std::string& path, const std::function<bool(TFileSink&)>& produce) {
  SaveFileOs::TTarget target;
  if (const int err = SaveFileOs::Inspect(path, target)) return {err, TSaveStep::ssCreate};
  if (target.Folder) return {EISDIR, TSaveStep::ssCreate};
  if (target.Direct) return WriteInto(target.File, produce);
  RemoveStaleSaveTemps(target.File);

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = SaveTempPrefix(target.File) + std::to_string(SaveFileOs::ProcessId()) + "." +
           std::to_string(counter++);
    fd = SaveFileOs::CreateTemp(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return {errno, TSaveStep::ssCreate};

  TSaveResult result;
  if (const int err = SaveFileOs::TakeOver(fd, target))
    result = {err, TSaveStep::ssWrite};
  else
    result = Produce(fd, produce, true);
  result = Finish(fd, result);
  if (result) {
    // A file of another user is rewritten in place, so that it stays
    // theirs; so is one that may not be replaced (a sticky folder).
    int err = SaveFileOs::kNoRewrite;
    if (target.OtherOwner) err = SaveFileOs::RewriteInPlace(temp, target.File);
    if (err == SaveFileOs::kNoRewrite) {
      err = SaveFileOs::Replace(temp, target.File);
      if (err == EPERM || err == EACCES) {
        const int inPlace = SaveFileOs::RewriteInPlace(temp, target.File);
        if (inPlace != SaveFileOs::kNoRewrite) err = inPlace;
      }
    }
    if (err != 0) result = {err, TSaveStep::ssReplace};
  }
  if (!result) SaveFileOs::Remove(temp);
  return result;
}

bool SaveFileWhole(const std::string& path, const std::function<bool(TFileSink&)>& produce,
                   std::string& error) {
  const TSaveResult result = SaveFileWhole(path, produce);
  if (!result) error = SystemErrorText(result.Error);
  return static_cast<bool>(result);
}
