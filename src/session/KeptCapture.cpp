// A converted capture kept for the next time: the "ready" file.
#include "session/KeptCapture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/BinaryCodec.h"
#include "base/FileFacts.h"
#include "base/SaveFile.h"
#include "base/StoreFile.h"
#include "base/Text.h"
#include "session/SessionStore.h"

namespace {

constexpr char kMagic[8] = {'V', 'V', 'K', 'E', 'P', 'T', '\r', '\n'};
// Changes whenever what is kept changes: an older file is converted anew.
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeader = sizeof kMagic + 4 + 8 + 4;  // magic, version, length, checksum
constexpr std::size_t kHashedEnds = 64 * 1024;
const char* const kReadyName = "ready";

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

bool SeekTo(std::FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// Up to n bytes from offset.
bool ReadPart(std::FILE* f, uint64_t offset, std::size_t n, std::string& out) {
  out.resize(n);
  if (!SeekTo(f, offset)) return false;
  out.resize(std::fread(out.data(), 1, n, f));
  return !std::ferror(f);
}

void PutIdentity(std::string& out, const TCaptureIdentity& id) {
  PutText(out, id.Path);
  PutU64(out, id.Size);
  PutU64(out, static_cast<uint64_t>(id.ModifiedUs));
  PutU64(out, id.ContentHash);
  PutU64(out, id.Reading);
}

TCaptureIdentity GetIdentity(TByteReader& in) {
  TCaptureIdentity id;
  id.Path = in.Text();
  id.Size = in.U64();
  id.ModifiedUs = in.I64();
  id.ContentHash = in.U64();
  id.Reading = in.U64();
  return id;
}

// The body of folder's ready file, checked whole; false when it is missing,
// torn or not this version's.
bool ReadBody(const std::string& folder, std::string& body) {
  TFile f(OpenFileForReading(JoinPath(folder, kReadyName)));
  std::string header;
  if (!f || !ReadPart(f.get(), 0, kHeader, header) || header.size() != kHeader ||
      std::memcmp(header.data(), kMagic, sizeof kMagic) != 0 ||
      GetU32(header.data() + sizeof kMagic) != kVersion)
    return false;
  const uint64_t length = GetU64(header.data() + sizeof kMagic + 4);
  const uint32_t sum = GetU32(header.data() + sizeof kMagic + 12);
  TFileFacts facts;
  if (!ReadFileFacts(JoinPath(folder, kReadyName), facts) || facts.Size != kHeader + length)
    return false;
  return ReadPart(f.get(), kHeader, static_cast<std::size_t>(length), body) &&
         body.size() == length && Fnv1a32(body) == sum;
}

// A section: its length, then its bytes (the series and the states read
// their own).
void PutSection(std::string& out, const std::string& section) {
  PutU64(out, section.size());
  out.append(section);
}
std::string_view GetSection(TByteReader& in) {
  const uint64_t n = in.U64();
  return in.Raw(static_cast<std::size_t>(std::min<uint64_t>(n, SIZE_MAX)));
}

}  // namespace

bool ReadCaptureIdentity(const std::string& path, TCaptureIdentity& identity) {
  TFileFacts facts;
  if (!ReadFileFacts(path, facts) || !facts.Regular) return false;
  TFile f(OpenFileForReading(path));
  std::string head, tail;
  if (!f || !ReadPart(f.get(), 0, kHashedEnds, head)) return false;
  const uint64_t tailAt = facts.Size > kHashedEnds ? facts.Size - kHashedEnds : 0;
  if (!ReadPart(f.get(), tailAt, kHashedEnds, tail)) return false;
  identity = TCaptureIdentity();
  identity.Path = path;
  identity.Size = facts.Size;
  identity.ModifiedUs = facts.ModifiedUs;
  identity.ContentHash = Fnv1a64(tail, Fnv1a64(head));
  return true;
}

bool SaveKeptCapture(const std::string& folder, const TCaptureIdentity& identity,
                     const TKeptCapture& kept, const TSeriesStore& series,
                     const TStateHistory& states, std::string& error) {
  std::string body;
  PutIdentity(body, identity);
  body.push_back(kept.IsLog ? 1 : 0);
  for (const std::string* s : {&kept.Port, &kept.Line, &kept.Program, &kept.FirstMalformedReason})
    PutText(body, *s);
  for (uint64_t v : {static_cast<uint64_t>(kept.StartUs), static_cast<uint64_t>(kept.EndUs),
                     kept.Gaps, kept.MalformedLines, kept.FirstMalformedLine, kept.TotalBytes,
                     kept.UnrecognisedBytes, kept.DiskBytes})
    PutU64(body, v);
  body.push_back(kept.Truncated ? 1 : 0);
  PutU64(body, kept.Marks.Count());
  for (const TTrafficMark& mark : kept.Marks.Items()) {
    PutU64(body, mark.Seq);
    PutU64(body, static_cast<uint64_t>(mark.TimeUs));
    PutText(body, mark.Text);
  }
  std::string section;
  states.Save(section);
  PutSection(body, section);
  section.clear();
  series.Save(section);
  PutSection(body, section);

  std::string header(kMagic, sizeof kMagic);
  PutU32(header, kVersion);
  PutU64(header, body.size());
  PutU32(header, Fnv1a32(body));
  return SaveFileWhole(
      JoinPath(folder, kReadyName),
      [&](TFileSink& sink) { return sink.Write(header) && sink.Write(body); }, error);
}

TKeptMatch LoadKeptCapture(const std::string& folder, const TCaptureIdentity& want,
                           TKeptCapture& kept, TSeriesStore& series, TStateHistory& states) {
  std::string body;
  if (!ReadBody(folder, body)) return TKeptMatch::kmNone;
  TByteReader in(body);
  const TCaptureIdentity identity = GetIdentity(in);
  if (!in.Ok()) return TKeptMatch::kmNone;
  if (identity.Path != want.Path) return TKeptMatch::kmOther;
  if (identity != want) return TKeptMatch::kmChanged;
  TKeptCapture k;
  k.IsLog = in.U8() != 0;
  for (std::string* s : {&k.Port, &k.Line, &k.Program, &k.FirstMalformedReason}) *s = in.Text();
  k.StartUs = in.I64();
  k.EndUs = in.I64();
  for (uint64_t* v : {&k.Gaps, &k.MalformedLines, &k.FirstMalformedLine, &k.TotalBytes,
                      &k.UnrecognisedBytes, &k.DiskBytes})
    *v = in.U64();
  k.Truncated = in.U8() != 0;
  const uint64_t marks = in.U64();
  for (uint64_t i = 0; in.Ok() && i < marks; ++i) {
    const uint64_t seq = in.U64();
    const int64_t timeUs = in.I64();
    std::string text = in.Text();
    if (in.Ok()) k.Marks.Add(seq, timeUs, std::move(text));
  }
  const std::string_view statesPart = GetSection(in);
  const std::string_view seriesPart = GetSection(in);
  // The checksum held, so this is damage only if the program wrote it wrong:
  // refused all the same.
  if (!in.Ok() || !in.AtEnd() || !states.Load(statesPart) || !series.Load(seriesPart))
    return TKeptMatch::kmNone;
  kept = std::move(k);
  return TKeptMatch::kmLoaded;
}

void TrimKeptCaptures(const std::string& root, int keep) {
  std::vector<TSessionStore::TFolderInfo> whole;
  for (const TSessionStore::TFolderInfo& info : TSessionStore::ListSessions(root)) {
    if (info.InUse) continue;  // another window's, or being converted: it stays
    std::string body;
    if (ReadBody(info.Path, body))
      whole.push_back(info);
    else
      TSessionStore::RemoveSession(info.Path);
  }
  // Oldest first, as their names sort.
  for (std::size_t i = 0; i + static_cast<std::size_t>(std::max(keep, 0)) < whole.size(); ++i)
    TSessionStore::RemoveSession(whole[i].Path);
}
