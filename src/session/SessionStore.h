// TSessionStore: the whole history of a session on disk, read back through a
// small page cache, so that hours of a busy line cost disk, not memory.
//
// A session is a folder in the program's cache folder, named by its start
// ("20261210-001502-4711"), holding numbered segment files and a lock file
// held while the session is open.  A segment is a run of records, each with
// a header (tag, length, item count, checksum) and a payload:
//   items    the first item's number, then per item its time (as a step from
//            the one before), kind and called device, length and bytes
//   session  a connection began: first item, start time
//   gap      the line was down before an item: from, to
// Items collect in memory and go to disk as one record once they reach
// kChunkBytes or the oldest is a second old, so the disk sees at most one
// write a second per 64 KB.  A record is complete or it is not there: a
// killed writer leaves at worst a torn last record, which reopening ignores.
// "closed" is created when the owner closed it; without it the session ended
// by a crash or a kill.
//
// The size limit drops whole segments, oldest first; First() then moves on.
// Not thread-safe: one thread writes and reads (the window's).  Bytes() stays
// valid until kCachePages other pages have been read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/StoreFile.h"
#include "bus/BusItem.h"
#include "traffic/TrafficSource.h"

class TSessionStore final : public TTrafficSource {
public:
  static constexpr std::size_t kChunkBytes = 64 * 1024;
  static constexpr int64_t kFlushPeriodUs = 1000000;
  static constexpr uint64_t kDefaultSegmentBytes = 64ull << 20;
  static constexpr uint64_t kDefaultSizeLimit = 2000000000ull;  // 2 GB
  static constexpr std::size_t kCachePages = 32;

  TSessionStore();
  ~TSessionStore() override;  // closes
  TSessionStore(const TSessionStore&) = delete;
  TSessionStore& operator=(const TSessionStore&) = delete;

  // A new session in a new folder under root (created), named by startUs.
  // False with the cause in ErrorText() when it cannot be written.
  bool Create(const std::string& root, int64_t startUs);
  // An existing session folder, for reading (a previous run's): every
  // complete record is read; a torn end is left out.  False when it holds
  // nothing readable or another process has it open (unless evenInUse: a
  // reader beside this run's own writer, which sees what was written).
  bool OpenExisting(const std::string& folder, bool evenInUse = false);
  // A folder this program wrote whole and kept (a converted capture), for
  // reading at once: the items are not read through (their bytes and
  // checksums are when shown), the totals are the ones given.  Holds the
  // folder's lock while open, so that no one removes it meanwhile; false
  // when another holds it.
  bool OpenKept(const std::string& folder, uint64_t totalBytes, uint64_t unrecognisedBytes);
  // A reader of what this store has on disk, for another thread: its own
  // page cache, the same files, the index copied rather than read again
  // (Flush first for the items that wait).  Null when nothing is open.
  std::unique_ptr<TSessionStore> ReaderCopy() const;
  // Writes what waits and marks the session as closed by its owner.
  void Close();
  bool IsOpen() const noexcept { return !FFolder.empty(); }
  const std::string& Folder() const noexcept { return FFolder; }
  const std::string& ErrorText() const noexcept { return FError; }

  // Bytes on disk at most; the oldest segments go beyond it.
  void SetSizeLimit(uint64_t bytes) noexcept { FSizeLimit = bytes; }
  uint64_t SizeLimit() const noexcept { return FSizeLimit; }
  // Keeps every item whatever the limit (a capture converted to be shown:
  // dropping its beginning would show a part of it as the whole).
  void SetKeepAll(bool on) noexcept { FKeepAll = on; }
  // Segment files are cut at about this size (tests make it small).
  void SetSegmentBytes(uint64_t bytes) noexcept { FSegmentBytes = bytes; }
  uint64_t DiskBytes() const noexcept { return FDiskBytes; }

  // Writing (a store made by Create).
  void BeginSession(int64_t startUs);
  void MarkGap(int64_t fromUs, int64_t toUs);
  void Append(const TBusItem& kind, int64_t timeUs, std::string_view bytes);
  // Writes the waiting items once the oldest is kFlushPeriodUs old; call it
  // now and then also when nothing comes.
  void FlushIfDue(int64_t nowUs);
  void Flush();
  // A write failed (a full disk): nothing more is taken, what was written
  // stays readable, the items that waited are gone.
  bool Failed() const noexcept { return FFailed; }
  // Items dropped by the size limit so far, and whether that happened since
  // the last call (the window says so once).
  uint64_t DroppedForSize() const noexcept { return FFirst; }
  bool TakeDropNotice() noexcept { return std::exchange(FDropNotice, false); }

  uint64_t First() const noexcept override { return FFirst; }
  uint64_t End() const noexcept override { return FEnd; }
  int64_t TimeUs(uint64_t seq) const noexcept override;
  TItemKind Kind(uint64_t seq) const noexcept override;
  int Device(uint64_t seq) const noexcept override;
  std::string_view Bytes(uint64_t seq) const noexcept override;
  int64_t SessionStart(uint64_t seq) const noexcept override;
  // A page at a time.  Every view stays valid until the next read, however
  // many pages the block spans.
  void Items(uint64_t seq, std::size_t count, TItemView* out) const noexcept override;
  uint64_t Dropped() const noexcept override { return FFirst; }
  uint64_t TotalItems() const noexcept override { return FEnd; }
  uint64_t TotalBytes() const noexcept override { return FTotalBytes; }
  uint64_t UnrecognisedBytes() const noexcept override { return FUnrecognisedBytes; }
  const TTrafficGap* GapWithin(uint64_t fromSeq, uint64_t toSeq) const noexcept override;

  // Memory held (index, pages, what waits), for the benchmark.
  std::size_t MemoryBytes() const noexcept;

  // ---- the cache folder's sessions
  struct TFolderInfo {
    std::string Path;
    bool InUse = false;   // another process has it open
    bool Closed = false;  // its owner closed it
  };
  // Sessions under root, oldest first.
  static std::vector<TFolderInfo> ListSessions(const std::string& root);
  // Removes the oldest sessions not in use until keep are left; returns how
  // many went.
  static int RemoveOldSessions(const std::string& root, int keep);
  // Removes one session's files and folder (not when in use).
  static bool RemoveSession(const std::string& folder);
  // The newest session not in use that its owner did not close (a crash or
  // a kill) and that holds items; empty when none.
  static std::string UnclosedSession(const std::string& root);
  // Marks a session as closed, so that it is not offered again.
  static void MarkClosed(const std::string& folder);
  // The limit that applies: limit, but never more than a fifth of the space
  // the disk has for it (free plus what the store holds already).
  static uint64_t EffectiveLimit(uint64_t limit, uint64_t freeBytes, uint64_t heldBytes);

private:
  struct TPage {
    uint64_t FirstSeq = 0;
    std::vector<int64_t> Times;
    std::vector<uint8_t> Meta;  // kind - first kind in bits 0-2, device in bits 3-7
    std::vector<uint32_t> Starts;
    std::string Bytes;
    std::size_t Count() const noexcept { return Times.size(); }
    std::string_view ItemBytes(std::size_t i) const noexcept {
      const std::size_t end = i + 1 < Starts.size() ? Starts[i + 1] : Bytes.size();
      return std::string_view(Bytes).substr(Starts[i], end - Starts[i]);
    }
    void Clear() {
      Times.clear();
      Meta.clear();
      Starts.clear();
      Bytes.clear();
    }
    std::size_t MemoryBytes() const noexcept {
      return Times.capacity() * 8 + Meta.capacity() + Starts.capacity() * 4 + Bytes.capacity();
    }
  };
  // Where each items record lies.
  struct TChunk {
    uint64_t FirstSeq;
    uint32_t Count;
    uint32_t Segment;
    uint64_t Offset;  // of the payload
    uint32_t Length;
  };
  struct TSegment {
    uint32_t Number;
    uint64_t Bytes;
  };
  struct TSession {
    uint64_t FirstSeq;
    int64_t StartUs;
  };

  bool WriteRecord(char tag, uint32_t count, std::string_view payload);
  bool OpenSegment(uint32_t number, bool create);
  void ApplyLimit();
  bool ReadFolder(const std::string& folder, bool quick);
  bool ReadSegment(uint32_t number, bool last, bool quick);
  void Fail(const std::string& what, int error);
  const TPage* PageFor(uint64_t seq) const noexcept;
  bool Decode(const TChunk& chunk, TPage& page) const;
  std::string SegmentPath(uint32_t number) const;

  std::string FFolder;
  std::string FError;
  bool FWritable = false;
  bool FFailed = false;
  TStoreFile FLock;
  TStoreFile FFile;  // the segment written (or last read)
  uint32_t FFileNumber = 0;
  uint64_t FSizeLimit = kDefaultSizeLimit;
  uint64_t FSegmentBytes = kDefaultSegmentBytes;
  uint64_t FDiskBytes = 0;
  bool FDropNotice = false;
  bool FKeepAll = false;

  std::deque<TSegment> FSegments;
  std::deque<TChunk> FChunks;
  std::deque<TSession> FSessions;
  std::deque<TTrafficGap> FGaps;

  // The items not yet written: kept decoded for reading, and encoded.
  TPage FPending;
  std::string FEncoded;
  int64_t FEncodedLastUs = 0;
  int64_t FPendingSinceUs = 0;

  uint64_t FFirst = 0;
  uint64_t FEnd = 0;
  uint64_t FTotalBytes = 0;
  uint64_t FUnrecognisedBytes = 0;
  int FCurrentDevice = 0;

  // Pages read back, the most recent first.
  mutable std::list<std::pair<std::size_t, std::unique_ptr<TPage>>>
      FCache;  // chunk number in FChunks, counted from FChunkBase
  mutable TPage FEmpty;
  mutable std::size_t FPinned = 0;  // within Items: the pages it read, plus one
  uint64_t FChunkBase = 0;          // chunks dropped before FChunks.front()
};
