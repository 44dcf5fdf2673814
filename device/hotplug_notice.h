// What a hot-plug watcher tells its front end: a volume came, or a device went. The window and
// the command line react to these two alone (search again, or check the current pedal is still
// there), whichever source produced them.
#pragma once

namespace rendax {

enum class HotplugNotice {
  VolumeArrival,  // a disk or volume was added: look for a pedal again
  DeviceRemoval   // a disk or volume is gone: is the current pedal still attached?
};

}  // namespace rendax
