// TSessionStore: a session's items in segment files, read back by pages.
#include "session/SessionStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/BinaryCodec.h"
#include "base/Text.h"
#include "traffic/TrafficText.h"

static_assert(kLastKind - kFirstKind < 8, "an item's kind must fit three bits");

namespace {

constexpr char kSegmentMagic[8] = {'V', 'V', 'S', 'E', 'G', '1', '\r', '\n'};
constexpr std::size_t kRecordHeader = 16;  // tag, 3 spare, length, count, checksum
// No record is longer: a bigger length is damage, not data.
constexpr uint32_t kMaxRecord = 64u << 20;
constexpr char kItems = 'I', kSessionTag = 'S', kGapTag = 'G';
const char* const kLockName = "lock";
const char* const kClosedName = "closed";
const char* const kSegmentSuffix = ".vseg";

uint32_t Checksum(std::string_view data) { return Fnv1a32(data); }

void PutVar(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}
bool GetVar(std::string_view& in, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in.empty()) return false;
    const uint8_t b = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    v |= uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}
uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
int64_t UnZigZag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

// "20261210-001502-<pid-less counter>": sorts by start.
std::string SessionName(int64_t startUs) {
  const std::time_t seconds = static_cast<std::time_t>(startUs / 1000000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char name[48];
  std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%06lld", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long long>(startUs % 1000000));
  return name;
}

bool IsSessionName(const std::string& name) {
  return name.size() == 22 && name[8] == '-' && name[15] == '-' &&
         std::all_of(name.begin(), name.end(),
                     [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
}

bool Exists(const std::string& path) {
  TStoreFile f;
  return f.Open(path, false, false);
}

}  // namespace

TSessionStore::TSessionStore() = default;

TSessionStore::~TSessionStore() { Close(); }

std::string TSessionStore::SegmentPath(uint32_t number) const {
  char name[32];
  std::snprintf(name, sizeof name, "%08u%s", number, kSegmentSuffix);
  return JoinPath(FFolder, name);
}

void TSessionStore::Fail(const std::string& what, int error) {
  FFailed = true;
  FError = what + ": " + SystemErrorText(error);
}

bool TSessionStore::Create(const std::string& root, int64_t startUs) {
  Close();
  if (root.empty() || !MakeFolders(root)) {
    FError = "no cache folder: " + root;
    return false;
  }
  // Two windows started in one microsecond get different folders.
  std::string folder;
  for (int64_t t = startUs;; ++t) {
    folder = JoinPath(root, SessionName(t));
    if (!IsFolder(folder) && MakeFolders(folder)) break;
    if (t - startUs > 1000) {
      FError = "cannot create " + folder;
      return false;
    }
  }
  FFolder = folder;
  if (!FLock.Open(JoinPath(FFolder, kLockName), true, true) || !OpenSegment(1, true)) {
    FError = "cannot write " + FFolder + ": " +
             SystemErrorText(FLock.LastError() ? FLock.LastError() : FFile.LastError());
    FFolder.clear();
    FLock.Close();
    return false;
  }
  FWritable = true;
  return true;
}

bool TSessionStore::OpenSegment(uint32_t number, bool create) {
  FFile.Close();
  if (!FFile.Open(SegmentPath(number), create, false)) return false;
  FFileNumber = number;
  if (create) {
    if (FFile.Size() != 0 && !FFile.Truncate(0)) return false;
    if (!FFile.Append(std::string_view(kSegmentMagic, sizeof kSegmentMagic))) return false;
    FSegments.push_back({number, FFile.Size()});
    FDiskBytes += FFile.Size();
  }
  return true;
}

bool TSessionStore::WriteRecord(char tag, uint32_t count, std::string_view payload) {
  if (FFailed || !FWritable) return false;
  if (FFile.Size() >= FSegmentBytes) {
    if (!OpenSegment(FFileNumber + 1, true)) {
      Fail("cannot write " + SegmentPath(FFileNumber + 1), FFile.LastError());
      return false;
    }
    // Each segment says which session its first items belong to, so one
    // left alone after the oldest went still tells it.
    if (!FSessions.empty() && tag != kSessionTag) {
      std::string p;
      PutU64(p, FEnd - FPending.Count());
      PutU64(p, static_cast<uint64_t>(FSessions.back().StartUs));
      if (!WriteRecord(kSessionTag, 0, p)) return false;
    }
  }
  std::string header;
  header.push_back(tag);
  header.append(3, '\0');
  PutU32(header, static_cast<uint32_t>(payload.size()));
  PutU32(header, count);
  PutU32(header, Checksum(payload));
  const uint64_t before = FFile.Size();
  if (!FFile.Append(header + std::string(payload))) {
    Fail("cannot write " + SegmentPath(FFileNumber), FFile.LastError());
    FFile.Truncate(before);  // no torn record before what may follow
    return false;
  }
  FDiskBytes += FFile.Size() - before;
  FSegments.back().Bytes = FFile.Size();
  if (tag == kItems)
    FChunks.push_back({FPending.FirstSeq, count, FFileNumber, before + kRecordHeader,
                       static_cast<uint32_t>(payload.size())});
  return true;
}

void TSessionStore::BeginSession(int64_t startUs) {
  if (!FSessions.empty() && FSessions.back().FirstSeq == FEnd)
    FSessions.back().StartUs = startUs;
  else
    FSessions.push_back({FEnd, startUs});
  Flush();  // the items before belong to the session before
  std::string p;
  PutU64(p, FEnd);
  PutU64(p, static_cast<uint64_t>(startUs));
  WriteRecord(kSessionTag, 0, p);
}

void TSessionStore::MarkGap(int64_t fromUs, int64_t toUs) {
  if (!FGaps.empty() && FGaps.back().Seq == FEnd)
    FGaps.back().ToUs = toUs;
  else
    FGaps.push_back({FEnd, fromUs, toUs});
  Flush();
  std::string p;
  PutU64(p, FEnd);
  PutU64(p, static_cast<uint64_t>(FGaps.back().FromUs));
  PutU64(p, static_cast<uint64_t>(toUs));
  WriteRecord(kGapTag, 0, p);
}

void TSessionStore::Append(const TBusItem& kind, int64_t timeUs, std::string_view bytes) {
  if (bytes.empty() || !FWritable) return;
  if (FSessions.empty()) BeginSession(timeUs);
  if (kind.Kind == TItemKind::ikCallByte) FCurrentDevice = static_cast<uint8_t>(bytes[0]) & 0x1F;
  const uint8_t meta =
      static_cast<uint8_t>((static_cast<int>(kind.Kind) - kFirstKind) | FCurrentDevice << 3);
  if (FPending.Count() == 0) {
    FPending.FirstSeq = FEnd;
    FPendingSinceUs = timeUs;
    FEncoded.clear();
    PutU64(FEncoded, FEnd);
    PutU64(FEncoded, static_cast<uint64_t>(timeUs));
    FEncodedLastUs = timeUs;
  }
  PutVar(FEncoded, ZigZag(timeUs - FEncodedLastUs));
  FEncodedLastUs = timeUs;
  FEncoded.push_back(static_cast<char>(meta));
  PutVar(FEncoded, bytes.size());
  FEncoded.append(bytes);
  FPending.Times.push_back(timeUs);
  FPending.Meta.push_back(meta);
  FPending.Starts.push_back(static_cast<uint32_t>(FPending.Bytes.size()));
  FPending.Bytes.append(bytes);
  ++FEnd;
  FTotalBytes += bytes.size();
  if (kind.Kind == TItemKind::ikLoneByte || kind.Kind == TItemKind::ikUnrecognised)
    FUnrecognisedBytes += bytes.size();
  if (FEncoded.size() >= kChunkBytes) Flush();
}

void TSessionStore::FlushIfDue(int64_t nowUs) {
  if (FPending.Count() > 0 &&
      (nowUs - FPendingSinceUs >= kFlushPeriodUs || nowUs < FPendingSinceUs))
    Flush();
}

void TSessionStore::Flush() {
  if (FPending.Count() == 0) return;
  if (!WriteRecord(kItems, static_cast<uint32_t>(FPending.Count()), FEncoded) && FFailed) {
    // What could not be written is not kept (memory would grow without
    // bound); what was written stays readable, and nothing more comes.
    FEnd = FPending.FirstSeq;
    FWritable = false;
  }
  FPending.Clear();
  FEncoded.clear();
  ApplyLimit();
}

uint64_t TSessionStore::EffectiveLimit(uint64_t limit, uint64_t freeBytes, uint64_t heldBytes) {
  if (freeBytes == 0) return limit;  // not known: the setting alone
  return std::min(limit, (freeBytes + heldBytes) / 5);
}

void TSessionStore::ApplyLimit() {
  if (FKeepAll) return;
  const uint64_t limit = EffectiveLimit(FSizeLimit, FreeDiskBytes(FFolder), FDiskBytes);
  while (FDiskBytes > limit && FSegments.size() > 1) {
    const TSegment gone = FSegments.front();
    FSegments.pop_front();
    RemoveFile(SegmentPath(gone.Number));
    FDiskBytes -= gone.Bytes;
    while (!FChunks.empty() && FChunks.front().Segment == gone.Number) {
      FChunks.pop_front();
      ++FChunkBase;
    }
    FFirst = FChunks.empty() ? FEnd - FPending.Count() : FChunks.front().FirstSeq;
    while (FSessions.size() >= 2 && FSessions[1].FirstSeq <= FFirst) FSessions.pop_front();
    while (!FGaps.empty() && FGaps.front().Seq < FFirst) FGaps.pop_front();
    FCache.remove_if([this](const auto& entry) { return entry.first < FChunkBase; });
    FDropNotice = true;
  }
}

std::unique_ptr<TSessionStore> TSessionStore::ReaderCopy() const {
  if (FFolder.empty()) return nullptr;
  auto reader = std::make_unique<TSessionStore>();
  reader->FFolder = FFolder;
  reader->FSegments = FSegments;
  reader->FChunks = FChunks;
  reader->FSessions = FSessions;
  reader->FGaps = FGaps;
  reader->FChunkBase = FChunkBase;
  reader->FFirst = FFirst;
  reader->FEnd = FPending.Count() > 0 ? FPending.FirstSeq : FEnd;
  reader->FDiskBytes = FDiskBytes;
  reader->FTotalBytes = FTotalBytes;
  reader->FUnrecognisedBytes = FUnrecognisedBytes;
  return reader;
}

void TSessionStore::Close() {
  if (FFolder.empty()) return;
  if (FWritable) {
    Flush();
    MarkClosed(FFolder);
  }
  FFile.Close();
  FLock.Close();
  FFolder.clear();
  FWritable = false;
}

// ---- reading back

bool TSessionStore::ReadSegment(uint32_t number, bool last, bool quick) {
  if (!FFile.Open(SegmentPath(number), false, false)) return false;
  FFileNumber = number;
  char magic[sizeof kSegmentMagic];
  if (!FFile.ReadAt(0, magic, sizeof magic) || std::memcmp(magic, kSegmentMagic, sizeof magic) != 0)
    return false;
  uint64_t at = sizeof magic;
  std::string payload;
  while (at + kRecordHeader <= FFile.Size()) {
    char h[kRecordHeader];
    if (!FFile.ReadAt(at, h, sizeof h)) break;
    const char tag = h[0];
    const uint32_t length = GetU32(h + 4), count = GetU32(h + 8), sum = GetU32(h + 12);
    if (length > kMaxRecord || at + kRecordHeader + length > FFile.Size()) break;
    if (quick && tag == kItems) {
      // Only where the items lie: their bytes are read when shown.
      char first[8];
      if (length < 16 || count == 0 || !FFile.ReadAt(at + kRecordHeader, first, sizeof first))
        break;
      const uint64_t firstSeq = GetU64(first);
      if (firstSeq != FEnd && !FChunks.empty()) break;
      if (FChunks.empty()) FFirst = firstSeq, FEnd = firstSeq;
      FChunks.push_back({firstSeq, count, number, at + kRecordHeader, length});
      FEnd += count;
      at += kRecordHeader + length;
      continue;
    }
    payload.resize(length);
    if (!FFile.ReadAt(at + kRecordHeader, payload.data(), length) || Checksum(payload) != sum)
      break;
    if (tag == kItems && length >= 16 && count > 0) {
      const uint64_t firstSeq = GetU64(payload.data());
      if (firstSeq != FEnd && !FChunks.empty()) break;  // not what follows: damage
      if (FChunks.empty()) FFirst = firstSeq, FEnd = firstSeq;
      TChunk chunk{firstSeq, count, number, at + kRecordHeader, length};
      TPage page;
      if (!Decode(chunk, page)) break;
      for (std::size_t i = 0; i < page.Count(); ++i) {
        const auto kind = static_cast<TItemKind>((page.Meta[i] & 7) + kFirstKind);
        if (kind == TItemKind::ikLoneByte || kind == TItemKind::ikUnrecognised)
          FUnrecognisedBytes += page.ItemBytes(i).size();
      }
      FTotalBytes += page.Bytes.size();
      FChunks.push_back(chunk);
      FEnd += count;
    } else if (tag == kSessionTag && length == 16) {
      const TSession s{GetU64(payload.data()), static_cast<int64_t>(GetU64(payload.data() + 8))};
      if (FSessions.empty() || FSessions.back().FirstSeq < s.FirstSeq)
        FSessions.push_back(s);
      else if (FSessions.back().FirstSeq == s.FirstSeq)
        FSessions.back() = s;
    } else if (tag == kGapTag && length == 24) {
      FGaps.push_back({GetU64(payload.data()), static_cast<int64_t>(GetU64(payload.data() + 8)),
                       static_cast<int64_t>(GetU64(payload.data() + 16))});
    } else if (tag != kItems) {
      break;
    }
    at += kRecordHeader + length;
  }
  FSegments.push_back({number, FFile.Size()});
  FDiskBytes += FFile.Size();
  // A torn record can only end the last segment; elsewhere it ends the data.
  return last || at == FFile.Size();
}

bool TSessionStore::OpenKept(const std::string& folder, uint64_t totalBytes,
                             uint64_t unrecognisedBytes) {
  Close();
  if (!FLock.Open(JoinPath(folder, kLockName), false, true)) {
    FError = "in use: " + folder;
    return false;
  }
  if (!ReadFolder(folder, true)) {
    FLock.Close();
    return false;
  }
  FTotalBytes = totalBytes;
  FUnrecognisedBytes = unrecognisedBytes;
  return true;
}

bool TSessionStore::OpenExisting(const std::string& folder, bool evenInUse) {
  Close();
  if (!evenInUse && StoreFileLocked(JoinPath(folder, kLockName))) {
    FError = "in use: " + folder;
    return false;
  }
  return ReadFolder(folder, false);
}

bool TSessionStore::ReadFolder(const std::string& folder, bool quick) {
  FFolder = folder;
  std::vector<uint32_t> numbers;
  for (const std::string& name : FolderEntries(folder)) {
    unsigned n = 0;
    char rest[8] = {};
    if (name.size() == 13 && std::sscanf(name.c_str(), "%8u%7s", &n, rest) == 2 &&
        std::string(rest) == kSegmentSuffix)
      numbers.push_back(n);
  }
  std::sort(numbers.begin(), numbers.end());
  for (std::size_t i = 0; i < numbers.size(); ++i)
    if (!ReadSegment(numbers[i], i + 1 == numbers.size(), quick)) break;
  FFile.Close();
  if (FChunks.empty()) {
    FError = "no items in " + folder;
    FFolder.clear();
    return false;
  }
  return true;
}

bool TSessionStore::Decode(const TChunk& chunk, TPage& page) const {
  std::string raw(chunk.Length, '\0');
  TStoreFile other;
  const TStoreFile* file = &FFile;
  if (!FFile.IsOpen() || FFileNumber != chunk.Segment) {
    if (!other.Open(SegmentPath(chunk.Segment), false, false)) return false;
    file = &other;
  }
  if (!file->ReadAt(chunk.Offset, raw.data(), raw.size()) || raw.size() < 16) return false;
  page.Clear();
  page.FirstSeq = GetU64(raw.data());
  int64_t t = static_cast<int64_t>(GetU64(raw.data() + 8));
  std::string_view in(raw);
  in.remove_prefix(16);
  page.Times.reserve(chunk.Count);
  page.Meta.reserve(chunk.Count);
  page.Starts.reserve(chunk.Count);
  for (uint32_t i = 0; i < chunk.Count; ++i) {
    uint64_t step = 0, length = 0;
    if (!GetVar(in, step) || in.empty()) return false;
    t += UnZigZag(step);
    const uint8_t meta = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    if (!GetVar(in, length) || length > in.size()) return false;
    page.Times.push_back(t);
    page.Meta.push_back(meta);
    page.Starts.push_back(static_cast<uint32_t>(page.Bytes.size()));
    page.Bytes.append(in.substr(0, length));
    in.remove_prefix(length);
  }
  return in.empty();
}

const TSessionStore::TPage* TSessionStore::PageFor(uint64_t seq) const noexcept {
  if (FPending.Count() > 0 && seq >= FPending.FirstSeq) return &FPending;
  // Items are mostly read in order: the page read last first.
  if (!FCache.empty()) {
    const TPage* last = FCache.front().second.get();
    if (seq >= last->FirstSeq && seq - last->FirstSeq < last->Count()) return last;
  }
  auto it = std::upper_bound(FChunks.begin(), FChunks.end(), seq,
                             [](uint64_t s, const TChunk& c) { return s < c.FirstSeq; });
  if (it == FChunks.begin()) return &FEmpty;
  --it;
  const std::size_t key = FChunkBase + static_cast<std::size_t>(it - FChunks.begin());
  for (auto c = FCache.begin(); c != FCache.end(); ++c) {
    if (c->first != key) continue;
    FCache.splice(FCache.begin(), FCache, c);
    if (FPinned > 0) ++FPinned;
    return c->second.get();
  }
  std::unique_ptr<TPage> page;
  // The pages a block of items spans all stay (a block of a quiet line's
  // items may span more than the cache holds); the cache shrinks back after.
  while (FCache.size() >= std::max(kCachePages, FPinned + 1)) {
    page = std::move(FCache.back().second);
    FCache.pop_back();
  }
  if (!page) page = std::make_unique<TPage>();
  try {
    if (!Decode(*it, *page)) page->Clear();  // unreadable: items without bytes
  } catch (...) {
    page->Clear();
  }
  page->FirstSeq = it->FirstSeq;
  FCache.emplace_front(key, std::move(page));
  if (FPinned > 0) ++FPinned;
  return FCache.front().second.get();
}

int64_t TSessionStore::TimeUs(uint64_t seq) const noexcept {
  const TPage* p = PageFor(seq);
  const uint64_t i = seq - p->FirstSeq;
  return i < p->Count() ? p->Times[i] : 0;
}

TItemKind TSessionStore::Kind(uint64_t seq) const noexcept {
  const TPage* p = PageFor(seq);
  const uint64_t i = seq - p->FirstSeq;
  return i < p->Count() ? static_cast<TItemKind>((p->Meta[i] & 7) + kFirstKind) : TItemKind::ikNone;
}

int TSessionStore::Device(uint64_t seq) const noexcept {
  const TPage* p = PageFor(seq);
  const uint64_t i = seq - p->FirstSeq;
  return i < p->Count() ? p->Meta[i] >> 3 : 0;
}

std::string_view TSessionStore::Bytes(uint64_t seq) const noexcept {
  const TPage* p = PageFor(seq);
  const uint64_t i = seq - p->FirstSeq;
  return i < p->Count() ? p->ItemBytes(static_cast<std::size_t>(i)) : std::string_view();
}

void TSessionStore::Items(uint64_t seq, std::size_t count, TItemView* out) const noexcept {
  FPinned = 1;  // counts the pages read by this call, plus one
  while (count > 0) {
    const TPage* p = PageFor(seq);
    const uint64_t i = seq - p->FirstSeq;
    if (i >= p->Count()) {  // unreadable: an item without bytes
      *out++ = {0, {}, TItemKind::ikNone, 0};
      ++seq;
      --count;
      continue;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, p->Count() - i));
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t at = static_cast<std::size_t>(i) + k;
      const uint8_t meta = p->Meta[at];
      out[k] = {p->Times[at], p->ItemBytes(at), static_cast<TItemKind>((meta & 7) + kFirstKind),
                meta >> 3};
    }
    out += n;
    seq += n;
    count -= n;
  }
  FPinned = 0;
}

int64_t TSessionStore::SessionStart(uint64_t seq) const noexcept {
  auto it =
      std::upper_bound(FSessions.begin(), FSessions.end(), seq,
                       [](uint64_t s, const TSession& session) { return s < session.FirstSeq; });
  return it == FSessions.begin() ? 0 : std::prev(it)->StartUs;
}

const TTrafficGap* TSessionStore::GapWithin(uint64_t fromSeq, uint64_t toSeq) const noexcept {
  auto it = std::upper_bound(FGaps.begin(), FGaps.end(), toSeq,
                             [](uint64_t s, const TTrafficGap& gap) { return s < gap.Seq; });
  if (it == FGaps.begin()) return nullptr;
  const TTrafficGap& gap = *std::prev(it);
  return gap.Seq >= fromSeq ? &gap : nullptr;
}

std::size_t TSessionStore::MemoryBytes() const noexcept {
  std::size_t bytes = sizeof(*this) + FChunks.size() * sizeof(TChunk) +
                      FSessions.size() * sizeof(TSession) + FGaps.size() * sizeof(TTrafficGap) +
                      FPending.MemoryBytes() + FEncoded.capacity();
  for (const auto& entry : FCache) bytes += entry.second->MemoryBytes();
  return bytes;
}

// ---- the cache folder

std::vector<TSessionStore::TFolderInfo> TSessionStore::ListSessions(const std::string& root) {
  std::vector<TFolderInfo> list;
  std::vector<std::string> names = FolderEntries(root);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = JoinPath(root, name);
    if (!IsSessionName(name) || !IsFolder(path)) continue;
    TFolderInfo info;
    info.Path = path;
    info.InUse = StoreFileLocked(JoinPath(path, kLockName));
    info.Closed = Exists(JoinPath(path, kClosedName));
    list.push_back(info);
  }
  return list;
}

bool TSessionStore::RemoveSession(const std::string& folder) {
  if (StoreFileLocked(JoinPath(folder, kLockName))) return false;
  bool ok = true;
  for (const std::string& name : FolderEntries(folder))
    ok = RemoveFile(JoinPath(folder, name)) && ok;
  return RemoveEmptyFolder(folder) && ok;
}

int TSessionStore::RemoveOldSessions(const std::string& root, int keep) {
  std::vector<TFolderInfo> list = ListSessions(root);
  int removed = 0;
  std::size_t left = list.size();
  for (const TFolderInfo& info : list) {
    if (left <= static_cast<std::size_t>(std::max(keep, 0))) break;
    if (info.InUse) continue;  // another window's: it stays, and counts
    if (RemoveSession(info.Path)) {
      ++removed;
      --left;
    }
  }
  return removed;
}

std::string TSessionStore::UnclosedSession(const std::string& root) {
  std::vector<TFolderInfo> list = ListSessions(root);
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (it->InUse || it->Closed) continue;
    TSessionStore probe;
    if (probe.OpenExisting(it->Path) && probe.End() > probe.First()) return it->Path;
  }
  return {};
}

void TSessionStore::MarkClosed(const std::string& folder) {
  TStoreFile mark;
  mark.Open(JoinPath(folder, kClosedName), true, false);
}
