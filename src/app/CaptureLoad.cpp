// TCaptureLoad: reading a capture file into an archive on a thread of its own.
#include "app/CaptureLoad.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "base/BinaryCodec.h"
#include "base/FileFacts.h"
#include "bus/ItemClock.h"
#include "bus/RawFraming.h"
#include "capture/CaptureReader.h"
#include "session/SessionStore.h"

TCaptureLoad::TCaptureLoad(std::string path, const TOptions& options)
    : FPath(std::move(path)), FOptions(options) {
  // Here, before the thread starts: Progress() reads the size from another.
  TFileFacts facts;
  if (ReadFileFacts(FPath, facts)) {
    // The share read can be told only where the text is the file itself.
    if (facts.Regular && !IsCompressedCaptureName(FPath)) FFileSize = facts.Size;
    // A raw capture's bytes end when the file was written: its length
    // places the first one (a compressed one's is counted when read).
    FPlainSize = FFileSize;
    FModifiedUs = facts.ModifiedUs;
  }
}

TCaptureLoad::~TCaptureLoad() {
  Cancel();
  if (FThread.joinable()) FThread.join();
}

void TCaptureLoad::Start() {
  FThread = std::thread([this] { Run(); });
}

void TCaptureLoad::Run() {
  Read();
  FDone.store(true, std::memory_order_release);
}

double TCaptureLoad::Progress() const {
  if (FFileSize == 0) return -1;
  return std::min(1.0, static_cast<double>(FFileRead.load(std::memory_order_relaxed)) /
                           static_cast<double>(FFileSize));
}

TCaptureContents TCaptureLoad::Take() { return std::move(FResult); }

uint64_t TCaptureLoad::CountRawBytes() {
  TCaptureReader in;
  in.SetFilesOnly(true);
  uint64_t n = 0;
  if (!in.Open(FPath)) return 0;
  TCaptureItem item;
  while (n <= FOptions.MemoryLimit && !FCancel.load(std::memory_order_relaxed) && in.Next(item))
    n += item.Bytes.size();
  return n;
}

namespace {

// What the traffic view's table keeps for each row it shows.
constexpr uint64_t kViewBytesPerRow = 8;

// Where the items of a capture go while it is read: an archive in memory or a
// session store on disk, behind one face.
class TFilledHistory {
public:
  TFilledHistory(TTrafficArchive* archive, TSessionStore* store)
      : FArchive(archive), FStore(store) {}
  operator const TTrafficSource&() const {
    return FArchive ? static_cast<const TTrafficSource&>(*FArchive) : *FStore;
  }
  uint64_t End() const { return FArchive ? FArchive->End() : FStore->End(); }
  // False, nothing kept, once the memory limit (or the disk) is reached.
  bool BeginSession(int64_t startUs) {
    if (FArchive) return FArchive->BeginSession(startUs);
    FStore->BeginSession(startUs);
    return !FStore->Failed();
  }
  bool Append(const TBusItem& kind, int64_t timeUs, std::string_view bytes) {
    if (FArchive) return FArchive->Append(kind, timeUs, bytes);
    FStore->Append(kind, timeUs, bytes);
    return !FStore->Failed();
  }
  // The rows and the graph beside it: an archive's limit counts them.
  void SetOtherMemory(uint64_t bytes) {
    if (FArchive) FArchive->SetOtherMemory(bytes);
  }
  void Finish() {
    if (FArchive)
      FArchive->Finish();
    else
      FStore->Flush();
  }

private:
  TTrafficArchive* FArchive;
  TSessionStore* FStore;
};

// Characters a log spends on a read of n bytes: each line the time in
// parentheses and a line end, each byte a blank and two digits.
uint64_t LogTextSize(std::size_t n) {
  const uint64_t lines = (n + kCaptureBytesPerLine - 1) / kCaptureBytesPerLine;
  return lines * 20 + 3 * static_cast<uint64_t>(n);
}

}  // namespace

void TCaptureLoad::Read() {
  TCaptureContents& r = FResult;
  r.Path = FPath;
  TCaptureReader in;
  in.SetFilesOnly(true);  // a pipe or a terminal could hold the reading for ever
  if (!in.Open(FPath)) {
    r.ErrorText = in.LastErrorText();
    return;
  }
  r.IsLog = in.IsLog();
  std::unique_ptr<TSessionStore> store;
  TCaptureIdentity identity;
  bool keep = false;
  if (!FOptions.StoreRoot.empty()) {
    keep = ReadCaptureIdentity(FPath, identity);
    if (keep) {
      // A raw capture's times follow from the line's speed; the graph keeps
      // what its span holds.
      identity.Reading = Fnv1a64(std::to_string(FOptions.SeriesSeconds) +
                                 (r.IsLog ? std::string()
                                          : " " + std::to_string(FOptions.Baud) + " " +
                                                std::to_string(FOptions.LineBitsPerByte)));
      if (Reuse(identity)) return;
    }
    // Room for this one among the last few kept.
    TrimKeptCaptures(FOptions.StoreRoot, kKeptCaptures - 1);
    store = std::make_unique<TSessionStore>();
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    if (store->Create(FOptions.StoreRoot, nowUs))
      store->SetKeepAll(true);
    else
      store.reset();  // in memory then
  }
  // gzip keeps only the last part's size, and that modulo 4 GiB: count the
  // bytes, up to what the archive could take at most.
  if (!r.IsLog && IsCompressedCaptureName(FPath)) FPlainSize = CountRawBytes();
  auto archive = store ? nullptr : std::make_unique<TTrafficArchive>(FOptions.MemoryLimit);
  auto seriesStore = std::make_unique<TSeriesStore>(FOptions.SeriesSeconds);
  auto stateHistory = std::make_unique<TStateHistory>();
  TFilledHistory traffic(archive.get(), store.get());
  TSeriesStore& series = *seriesStore;
  TStateHistory& states = *stateHistory;
  r.RowsFilter = FOptions.Filter;
  r.RowsMaxLoko = FOptions.MaxLoko;
  r.Rows.Reset(0);
  TTrafficMatcher matcher(FOptions.Filter.Text, FOptions.MaxLoko);

  // A raw capture: the line's speed gives each byte its place in time.
  const double usPerByte =
      1e6 * std::max(FOptions.LineBitsPerByte, 1) / static_cast<double>(std::max(FOptions.Baud, 1));
  const int64_t rawStartUs =
      FModifiedUs - static_cast<int64_t>(std::llround(static_cast<double>(FPlainSize) * usPerByte));
  uint64_t framed = 0;  // bytes handed on as items

  int64_t chunkUs = 0;          // time of the read being framed
  TItemClock clock(usPerByte);  // a log's items at their last byte's arrival, as shown live
  bool haveStart = false;
  int64_t gapUs = -1;  // a gap waits for the next read
  TCaptureFramer framer([&](std::string_view item) {
    if (FCancel.load(std::memory_order_relaxed)) return false;
    framed += item.size();
    const int64_t t =
        r.IsLog ? clock.ItemTime(framer.BytesAfter())
                : rawStartUs +
                      static_cast<int64_t>(std::llround(static_cast<double>(framed) * usPerByte));
    const TBusItem kind = ClassifyItem(item);
    if (!traffic.Append(kind, t, item)) {
      r.CutShort = true;
      return false;
    }
    series.Add(kind, item, t);
    states.Add(kind, item);
    r.EndUs = t;
    return true;
  });

  // Marks find their items once all are read: one may come before its item.
  std::vector<TTrafficMark> marks;

  TCaptureItem item;
  bool go = true;
  while (go && in.Next(item)) {
    switch (item.Kind) {
      case TCaptureKind::ckChunk:
        if (r.IsLog) {
          if (!haveStart) {
            r.StartUs = item.TimeUs;
            traffic.BeginSession(item.TimeUs);
            haveStart = true;
          } else if (gapUs >= 0 && chunkUs != 0 &&
                     // The reconnect came a gap after the last read, and before this one.
                     !traffic.BeginSession(
                         std::max(chunkUs, std::min(chunkUs + gapUs, item.TimeUs)))) {
            r.CutShort = true;
            go = false;
            break;
          }
          // A gap before the first read (recording began while the port was
          // away) opens no session of its own: the log's start stands.
          gapUs = -1;
          chunkUs = item.TimeUs;
          clock.Read(chunkUs);
          FFileRead.fetch_add(LogTextSize(item.Bytes.size()), std::memory_order_relaxed);
        } else {
          if (!haveStart) {
            r.StartUs = rawStartUs;
            traffic.BeginSession(rawStartUs);
            haveStart = true;
          }
          FFileRead.fetch_add(item.Bytes.size(), std::memory_order_relaxed);
        }
        go = framer.Feed(item.Bytes);
        r.Rows.Scan(traffic, traffic.End(), r.RowsFilter, matcher);
        // The rows and the graph grow with the items: an archive's limit
        // counts them, and the table's header, which keeps a section of 8
        // bytes a row.  Only there: the graph's size walks all its blocks,
        // which for every read of a day's capture took most of its reading.
        if (archive)
          traffic.SetOtherMemory(r.Rows.MemoryBytes() + r.Rows.Rows() * kViewBytesPerRow +
                                 series.MemoryBytes());
        FBusBytes.fetch_add(item.Bytes.size(), std::memory_order_relaxed);
        FItems.store(traffic.End(), std::memory_order_relaxed);
        break;
      case TCaptureKind::ckGap:
        // A new reader after the reconnect: what the old one held is cut now.
        go = framer.Finish();
        gapUs = item.GapUs;
        ++r.Gaps;
        break;
      case TCaptureKind::ckMetadata:
        if (int64_t us; item.Key == "start" && !haveStart && ParseCaptureTime(item.Text, us)) {
          r.StartUs = us;
          traffic.BeginSession(us);
          haveStart = true;
        } else if (item.Key == "port" && r.Port.empty()) {
          r.Port = item.Text;
        } else if (item.Key == "line" && r.Line.empty()) {
          r.Line = item.Text;
          // The line the log was recorded on times its items.
          if (double byteUs; chunkUs == 0 && CaptureLineByteTimeUs(item.Text, byteUs))
            clock = TItemClock(byteUs);
        } else if (item.Key == "program" && r.Program.empty()) {
          r.Program = item.Text;
        } else if (TTrafficMark mark; item.Key == kCaptureMarkKey &&
                                      ParseCaptureMark(item.Text, mark.TimeUs, mark.Text)) {
          marks.push_back(std::move(mark));
        }
        FFileRead.fetch_add(item.Key.size() + item.Text.size() + 4, std::memory_order_relaxed);
        break;
      case TCaptureKind::ckMalformed:
        if (r.FirstMalformedLine == 0) {
          r.FirstMalformedLine = item.Line;
          r.FirstMalformedReason = item.Text;
        }
        break;
    }
    if (FCancel.load(std::memory_order_relaxed)) go = false;
  }
  r.Cancelled = FCancel.load(std::memory_order_relaxed);
  if (!r.Cancelled && !r.CutShort) {
    if (!in.LastErrorText().empty()) r.ErrorText = in.LastErrorText();
    // The end of the capture: what is left goes as it is, as at the end of
    // a connection.
    framer.Finish();
  }
  r.Rows.Scan(traffic, traffic.End(), r.RowsFilter, matcher);
  r.MalformedLines = in.MalformedLines();
  r.Truncated = in.Truncated();
  traffic.Finish();
  series.Finish();
  const TTrafficSource& held = traffic;
  for (TTrafficMark& mark : marks) {
    // A capture read only in part keeps no marks beyond what it holds, and
    // none keeps a mark of an item from before it began (1 ms: rounding).
    if (held.End() == held.First() || (r.CutShort && mark.TimeUs > r.EndUs) ||
        mark.TimeUs < held.TimeUs(held.First()) - 1000)
      continue;
    const uint64_t seq = ItemNearest(held, mark.TimeUs);
    r.Marks.Add(seq, held.TimeUs(seq), std::move(mark.Text));
  }
  FItems.store(traffic.End(), std::memory_order_relaxed);
  // Whole and read without a fault that another reading might not meet:
  // kept for the next time.
  if (store && keep && !r.Cancelled && !r.CutShort && r.ErrorText.empty() && !store->Failed())
    Keep(identity, *store, series, states);
  std::unique_ptr<TTrafficSource> history;
  if (store)
    history = std::move(store);
  else
    history = std::move(archive);
  r.Session = std::make_unique<TBusSession>(std::move(history), std::move(seriesStore),
                                            std::move(stateHistory));
}

void TCaptureLoad::Keep(const TCaptureIdentity& identity, const TSessionStore& store,
                        const TSeriesStore& series, const TStateHistory& states) {
  const TCaptureContents& r = FResult;
  TKeptCapture kept;
  kept.IsLog = r.IsLog;
  kept.Port = r.Port;
  kept.Line = r.Line;
  kept.Program = r.Program;
  kept.StartUs = r.StartUs;
  kept.EndUs = r.EndUs;
  kept.Gaps = r.Gaps;
  kept.MalformedLines = r.MalformedLines;
  kept.FirstMalformedLine = r.FirstMalformedLine;
  kept.FirstMalformedReason = r.FirstMalformedReason;
  kept.Truncated = r.Truncated;
  kept.TotalBytes = store.TotalBytes();
  kept.UnrecognisedBytes = store.UnrecognisedBytes();
  kept.DiskBytes = store.DiskBytes();
  kept.Marks = r.Marks;
  // The file may have changed while it was read: then it is not this one.
  TCaptureIdentity after;
  std::string error;
  // Not kept when it cannot be saved: converted again the next time.
  if (ReadCaptureIdentity(FPath, after) && (after.Reading = identity.Reading, after == identity))
    SaveKeptCapture(store.Folder(), identity, kept, series, states, error);
}

bool TCaptureLoad::Reuse(const TCaptureIdentity& identity) {
  TCaptureContents& r = FResult;
  for (const TSessionStore::TFolderInfo& info : TSessionStore::ListSessions(FOptions.StoreRoot)) {
    if (info.InUse) continue;
    TKeptCapture kept;
    auto series = std::make_unique<TSeriesStore>(FOptions.SeriesSeconds);
    auto states = std::make_unique<TStateHistory>();
    const TKeptMatch match = LoadKeptCapture(info.Path, identity, kept, *series, *states);
    if (match == TKeptMatch::kmOther) continue;
    auto store = std::make_unique<TSessionStore>();
    if (match != TKeptMatch::kmLoaded ||
        !store->OpenKept(info.Path, kept.TotalBytes, kept.UnrecognisedBytes) ||
        store->DiskBytes() != kept.DiskBytes || store->End() != states->End()) {
      // Stale, torn or not what was kept: converted anew.
      store.reset();
      TSessionStore::RemoveSession(info.Path);
      continue;
    }
    r.IsLog = kept.IsLog;
    r.Port = std::move(kept.Port);
    r.Line = std::move(kept.Line);
    r.Program = std::move(kept.Program);
    r.StartUs = kept.StartUs;
    r.EndUs = kept.EndUs;
    r.Gaps = kept.Gaps;
    r.MalformedLines = kept.MalformedLines;
    r.FirstMalformedLine = kept.FirstMalformedLine;
    r.FirstMalformedReason = std::move(kept.FirstMalformedReason);
    r.Truncated = kept.Truncated;
    r.Marks = std::move(kept.Marks);
    r.RowsFilter = FOptions.Filter;
    r.RowsMaxLoko = FOptions.MaxLoko;
    r.Rows.Reset(0);
    r.HasRows = false;
    r.Reused = true;
    FItems.store(store->End(), std::memory_order_relaxed);
    FBusBytes.store(store->TotalBytes(), std::memory_order_relaxed);
    FFileRead.store(FFileSize, std::memory_order_relaxed);
    r.Session =
        std::make_unique<TBusSession>(std::move(store), std::move(series), std::move(states));
    return true;
  }
  return false;
}
