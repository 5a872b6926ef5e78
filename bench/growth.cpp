// growth: how the client's cost per request moves as the work grows, against a real server.
//
//   growth headers BASE_URL     BASE_URL/h/N answers with N header lines, N in kHeaderLines
//   growth cookies URL          requests to URL with 0, 100 and 3000 unrelated cookies stored
//   growth drift URL [COUNT]    COUNT (default 10000) requests on one kept-alive connection
//
// Every figure is per request, in microseconds: wall time and the process's CPU time (user +
// system) over a batch of requests on one kept-alive connection. The cases of one table are
// measured in interleaved rounds and the median round is printed, so a burst of load from
// elsewhere on the machine lands on one round rather than on one case (kRounds is odd, so
// the median is one round's figure).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "http/body/discard_stream.h"
#include "http/client/http.h"

namespace brixa {
namespace {

constexpr int kRounds = 5;
constexpr int kWarmUp = 100;
constexpr int kBatch = 400;
// compare.sh makes the server's /h/N locations for exactly these counts.
constexpr int kHeaderLines[] = {10, 25, 50, 100, 200, 255};
constexpr int kCookieCounts[] = {0, 100, 3000};
constexpr int kDriftBucket = 1000;

struct Cost {
  double wallUs = 0;
  double cpuUs = 0;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Cost per request of `count` GETs of `url` on `http`.
Cost Batch(TIdHTTP& http, const std::string& url, int count) {
  TIdDiscardStream sink;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) http.Get(url, &sink);
  const std::chrono::duration<double, std::micro> wall = std::chrono::steady_clock::now() - start;
  return {wall.count() / count, (CpuSeconds() - cpu) * 1e6 / count};
}

// The median wall time and the median CPU time of the rounds, each taken on its own.
Cost Median(const std::vector<Cost>& rounds) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Cost& round : rounds) {
    wall.push_back(round.wallUs);
    cpu.push_back(round.cpuUs);
  }
  const auto middle = [](std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  };
  return {middle(wall), middle(cpu)};
}

// One client per case, each warmed up on its own connection, then kRounds rounds of one batch
// per case. Returns the median round of each case.
std::vector<Cost> Interleaved(std::vector<std::unique_ptr<TIdHTTP>>& clients,
                              const std::vector<std::string>& urls) {
  std::vector<std::vector<Cost>> rounds(clients.size());
  for (std::size_t i = 0; i < clients.size(); ++i) Batch(*clients[i], urls[i], kWarmUp);
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t i = 0; i < clients.size(); ++i) {
      rounds[i].push_back(Batch(*clients[i], urls[i], kBatch));
    }
  }
  std::vector<Cost> medians;
  for (auto& r : rounds) medians.push_back(Median(r));
  return medians;
}

int Headers(const std::string& base) {
  std::vector<std::unique_ptr<TIdHTTP>> clients;
  std::vector<std::string> urls;
  for (const int lines : kHeaderLines) {
    clients.push_back(std::make_unique<TIdHTTP>());
    urls.push_back(base + "/h/" + std::to_string(lines));
  }
  const std::vector<Cost> costs = Interleaved(clients, urls);
  std::printf("%-14s %12s %12s %14s %20s\n", "header lines", "wall us/req", "cpu us/req",
              "cpu us/line", "extra cpu us/line");
  for (std::size_t i = 0; i < costs.size(); ++i) {
    const int lines = kHeaderLines[i];
    const int received = clients[i]->LastResponse().HeaderLines().Count();
    std::printf("%-14d %12.1f %12.1f %14.3f", lines, costs[i].wallUs, costs[i].cpuUs,
                costs[i].cpuUs / lines);
    if (i > 0) {
      std::printf(" %20.3f", (costs[i].cpuUs - costs[0].cpuUs) / (lines - kHeaderLines[0]));
    }
    if (received != lines) std::printf("   (the client kept %d lines)", received);
    std::printf("\n");
  }
  return 0;
}

int Cookies(const std::string& url) {
  std::vector<std::unique_ptr<TIdHTTP>> clients;
  std::vector<std::unique_ptr<TIdCookieManager>> managers;
  std::vector<std::string> urls;
  for (const int count : kCookieCounts) {
    auto manager = std::make_unique<TIdCookieManager>();
    for (int i = 0; i < count; ++i) {
      const std::string host = "h" + std::to_string(i) + ".example.com";
      manager->AddSetCookie("c" + std::to_string(i) + "=v; Path=/", host);
    }
    clients.push_back(std::make_unique<TIdHTTP>());
    clients.back()->SetCookieManager(manager.get());
    managers.push_back(std::move(manager));
    urls.push_back(url);
  }
  const std::vector<Cost> costs = Interleaved(clients, urls);
  std::printf("%-14s %12s %12s\n", "cookies", "wall us/req", "cpu us/req");
  for (std::size_t i = 0; i < costs.size(); ++i) {
    std::printf("%-14d %12.1f %12.1f", managers[i]->CookieCollection().Count(), costs[i].wallUs,
                costs[i].cpuUs);
    if (!clients[i]->Request().HeaderLines().HeaderValue("Cookie").empty()) {
      std::printf("   (a cookie was sent)");
    }
    std::printf("\n");
  }
  for (auto& client : clients) client->SetCookieManager(nullptr);
  return 0;
}

int Drift(const std::string& url, int count) {
  TIdHTTP http;
  Batch(http, url, kWarmUp);
  std::printf("%-16s %12s %12s\n", "requests", "wall us/req", "cpu us/req");
  std::vector<Cost> buckets;
  for (int done = 0; done < count; done += kDriftBucket) {
    const int n = std::min(kDriftBucket, count - done);
    buckets.push_back(Batch(http, url, n));
    std::printf("%6d-%-9d %12.1f %12.1f\n", done + 1, done + n, buckets.back().wallUs,
                buckets.back().cpuUs);
  }
  const Cost& first = buckets.front();
  const Cost& last = buckets.back();
  std::printf("last/first: wall %.2f, cpu %.2f\n", last.wallUs / first.wallUs,
              last.cpuUs / first.cpuUs);
  return 0;
}

}  // namespace
}  // namespace brixa

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 2 && args[0] == "headers") return brixa::Headers(args[1]);
    if (args.size() == 2 && args[0] == "cookies") return brixa::Cookies(args[1]);
    if (args.size() >= 2 && args[0] == "drift") {
      return brixa::Drift(args[1], args.size() > 2 ? std::stoi(args[2]) : 10000);
    }
  } catch (const brixa::Exception& e) {
    std::fprintf(stderr, "growth: %s\n", e.Message().c_str());
    return 1;
  }
  std::fprintf(stderr, "usage: growth headers BASE_URL | cookies URL | drift URL [COUNT]\n");
  return 2;
}
