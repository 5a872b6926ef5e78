// What a server can make the cookie store spend: a flood of Set-Cookie values into one domain
// (each past the per-domain limit pushes the oldest out) and across many domains (the store's
// limit), and building the Cookie header from a full domain. Time per stored cookie should not
// grow with the number of values already seen.
#include <benchmark/benchmark.h>

#include <string>

#include "http/cookies/cookie_manager.h"
#include "http/message/uri.h"

namespace {

void BM_SetCookieFloodOneDomain(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    brixa::TIdCookieManager manager;
    for (int i = 0; i < count; ++i) {
      manager.AddSetCookie("flood" + std::to_string(i) + "=v; path=/", "victim.example");
    }
    benchmark::DoNotOptimize(manager.CookieCollection().Count());
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_SetCookieFloodManyDomains(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    brixa::TIdCookieManager manager;
    for (int i = 0; i < count; ++i) {
      manager.AddSetCookie("c" + std::to_string(i % 10) + "=v",
                           "h" + std::to_string(i / 10) + ".example");
    }
    benchmark::DoNotOptimize(manager.CookieCollection().Count());
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_CookieHeaderFromAFullDomain(benchmark::State& state) {
  brixa::TIdCookieManager manager;
  for (int i = 0; i < brixa::TIdCookies::kMaxCookiesPerDomain; ++i) {
    manager.AddSetCookie("name" + std::to_string(i) + "=" + std::string(60, 'v'), "h.example");
  }
  const brixa::TIdURI uri("http://h.example/dir/page");
  for (auto _ : state) benchmark::DoNotOptimize(manager.BuildCookieHeader(uri, false));
}

// A request to a host none of the stored cookies is for: what the stored cookies cost a request
// that sends none of them.
void BM_CookieHeaderWithUnrelatedCookies(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  brixa::TIdCookieManager manager;
  for (int i = 0; i < count; ++i) {
    manager.AddSetCookie("c=v", "h" + std::to_string(i) + ".example.com");
  }
  const brixa::TIdURI uri("http://127.0.0.1/1k.bin");
  for (auto _ : state) benchmark::DoNotOptimize(manager.BuildCookieHeader(uri, false));
}

}  // namespace

BENCHMARK(BM_CookieHeaderWithUnrelatedCookies)->Arg(0)->Arg(100)->Arg(3000);
BENCHMARK(BM_SetCookieFloodOneDomain)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_SetCookieFloodManyDomains)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_CookieHeaderFromAFullDomain);
