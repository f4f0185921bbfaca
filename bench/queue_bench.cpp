// Message queue and reader cutting: items per second through QueueAdd /
// QueueTakeFirst with one producer and one consumer thread, and the time to
// cut a 1 MiB burst into items.
#include "bus/uVantrelThr.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

void DrainQueue() {
  for (ByteString m; QueueTakeFirst(m), !m.empty();) {}
}

// The consumer sleeps until the queue's wake-up, then drains: as the window does.
void BM_QueueProducerConsumer(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const ByteString item("\x4B\x49\x01\x03", 4);
  std::mutex m;
  std::condition_variable cv;
  bool woken = false;
  SetQueueWakeup([&] {
    std::lock_guard<std::mutex> g(m);
    woken = true;
    cv.notify_one();
  });
  DrainQueue();
  for (auto _ : state) {
    std::thread producer([&] {
      for (int i = 0; i < count; ++i) QueueAdd(item);
    });
    int taken = 0;
    ByteString out;
    while (taken < count) {
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return woken; });
        woken = false;
      }
      for (QueueTakeFirst(out); !out.empty(); QueueTakeFirst(out)) ++taken;
    }
    producer.join();
  }
  SetQueueWakeup({});
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_QueueProducerConsumer)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): bytes per item (1 = call bytes, 4 = checked 4-byte messages).
void BM_CutMegabyteBurst(benchmark::State& state) {
  const ByteString unit =
      state.range(0) == 1 ? ByteString("\x41", 1) : ByteString("\x4B\x49\x01\x03", 4);
  ByteString burst;
  while (burst.size() < (1u << 20)) burst += unit;
  TReadComDaemon daemon(nullptr, true, 10, 500, 50);
  DrainQueue();
  size_t items = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ByteString buffer = burst;
    state.ResumeTiming();
    items += daemon.CutCompleteMessages(buffer);
    state.PauseTiming();
    DrainQueue();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(items));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(burst.size()));
}
BENCHMARK(BM_CutMegabyteBurst)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
