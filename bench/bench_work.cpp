// AddWork, called once per block of every body: what a report costs when nobody listens, when
// an OnWork handler does, and when the reports are delegated to the owning client.
//
//   scripts/build.sh bench && build/bench/bench/bench_work

#include <benchmark/benchmark.h>

#include "runtime/work_component.h"

namespace brixa {
namespace {

// No span open: the report is dropped at once.
void BM_AddWorkOutsideSpan(benchmark::State& state) {
  TIdComponent component;
  for (auto _ : state) component.AddWork(wmRead, 16384);
  benchmark::DoNotOptimize(component.WorkInfo(wmRead).count);
}
BENCHMARK(BM_AddWorkOutsideSpan);

// Inside a span with no handler assigned: the case of every body read nobody watches.
void BM_AddWorkNoListener(benchmark::State& state) {
  TIdComponent component;
  component.StartWork(wmRead, 0);
  for (auto _ : state) component.AddWork(wmRead, 16384);
  benchmark::DoNotOptimize(component.WorkInfo(wmRead).count);
  component.FinishWork(wmRead);
}
BENCHMARK(BM_AddWorkNoListener);

void BM_AddWorkListener(benchmark::State& state) {
  TIdComponent component;
  std::int64_t seen = 0;
  component.OnWork = [&seen](TComponent*, TWorkMode, std::int64_t count) { seen = count; };
  component.StartWork(wmRead, 0);
  for (auto _ : state) component.AddWork(wmRead, 16384);
  benchmark::DoNotOptimize(seen);
  component.FinishWork(wmRead);
}
BENCHMARK(BM_AddWorkListener);

// The I/O handler's reports go to its client, which has the listener.
void BM_AddWorkDelegated(benchmark::State& state) {
  TIdComponent client;
  TIdComponent handler;
  handler.SetWorkDelegate(&client);
  std::int64_t seen = 0;
  client.OnWork = [&seen](TComponent*, TWorkMode, std::int64_t count) { seen = count; };
  handler.StartWork(wmRead, 0);
  for (auto _ : state) handler.AddWork(wmRead, 16384);
  benchmark::DoNotOptimize(seen);
  handler.FinishWork(wmRead);
}
BENCHMARK(BM_AddWorkDelegated);

}  // namespace
}  // namespace brixa
