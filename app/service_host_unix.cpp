// The service in the foreground, as systemd runs a simple service; signals end it.

#include <signal.h>

#include <cstdio>

#include "app/service_host.h"

namespace brixa {

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnStopSignal(int /*signal*/) {
  gStop = true;
}

}  // namespace

int RunServiceHost(const std::vector<std::string>& arguments, const std::string& name,
                   const TServiceBody& body) {
  if (arguments != std::vector<std::string>{"--foreground"}) {
    std::fprintf(stderr, "usage: %s --foreground (the service, run by systemd as root)\n",
                 name.c_str());
    return kServiceExitUsage;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  (void)::sigaction(SIGTERM, &stop, nullptr);
  (void)::sigaction(SIGINT, &stop, nullptr);
  return body(gStop);
}

}  // namespace brixa
