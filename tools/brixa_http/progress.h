#pragma once

#include <cstdint>

namespace brixa {
class TIdComponent;
}

namespace brixa::tool {

// A one-line progress bar on standard error, driven by a client's read work events. Chunked
// bodies arrive as one span per chunk; the bar adds them up and shows bytes only, since their
// total is not known in advance.
class ProgressBar {
 public:
  void Attach(TIdComponent& client);

 private:
  void Begin(std::int64_t max);
  void Update(std::int64_t spanCount);
  void End();
  void Draw(bool force);

  std::int64_t max_ = 0;
  std::int64_t done_ = 0;       // bytes of finished spans
  std::int64_t spanCount_ = 0;  // bytes of the open span
  std::int64_t drawnAt_ = -1;
  int drawnPercent_ = -1;
};

}  // namespace brixa::tool
