#include <cstdio>

#include "app/qt/hotplug.h"

namespace rendax {

// Platforms without a notice source yet: the pedal is looked for at start only.
std::unique_ptr<HotplugSource> WatchNative(NoticeSink) {
  std::fprintf(stderr, "rendax: no device notices on this platform; restart after plugging in\n");
  return nullptr;
}

}  // namespace rendax
