// SPDX-License-Identifier: GPL-3.0-or-later
// pedal-gadget: shows a simulated pedal folder to the kernel as a USB pedal. The kernel's own
// usb-storage, sd and sg drivers see a USB disk; its vendor commands reach the same firmware
// logic as the simulator's. Runs until SIGTERM/SIGINT (the cable is pulled) or until the
// pedal's fault script pulls the cable itself.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "tools/pedal-gadget/bulk_only.h"
#include "tools/pedal-gadget/function_fs.h"
#include "tools/pedal-gadget/scsi_target.h"

namespace rendax {
namespace {

constexpr int kExitStopped = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPulled = 3;

const char kUsage[] =
    "usage: pedal-gadget --pedal DIR --udc CONTROLLER [--name NAME] [--serial TEXT]\n"
    "                    [--blocks N] [--scsi-version N]\n"
    "\n"
    "Serves the simulated pedal in DIR as a USB mass-storage gadget bound to CONTROLLER\n"
    "(for example dummy_udc.0). Needs configfs mounted at /sys/kernel/config and the modules\n"
    "libcomposite and usb_f_fs. Ends on SIGTERM or SIGINT, or with status 3 when the pedal's\n"
    "fault script pulls the cable.\n";

void Interrupted(int) {}

bool ParseCount(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text, &end, 0);
  return errno == 0 && end != text && *end == '\0' && out > 0 && out <= max;
}

int Main(int argc, char** argv) {
  std::string pedal;
  GadgetConfig config;
  unsigned long blocks = 2048, version = 4;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help") {
      std::printf("%s", kUsage);
      return kExitStopped;
    } else if (arg == "--pedal" && hasValue) {
      pedal = argv[++i];
    } else if (arg == "--udc" && hasValue) {
      config.udc = argv[++i];
    } else if (arg == "--name" && hasValue) {
      config.name = argv[++i];
    } else if (arg == "--serial" && hasValue) {
      config.serial = argv[++i];
    } else if (arg == "--blocks" && hasValue) {
      if (!ParseCount(argv[++i], 1u << 22, blocks)) {
        std::fprintf(stderr, "--blocks takes 1 to 4194304\n");
        return kExitUsage;
      }
    } else if (arg == "--scsi-version" && hasValue) {
      if (!ParseCount(argv[++i], 7, version)) {
        std::fprintf(stderr, "--scsi-version takes 1 to 7\n");
        return kExitUsage;
      }
    } else {
      std::fprintf(stderr, "unknown or incomplete argument %s\n\n%s", arg.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (pedal.empty() || config.udc.empty()) {
    std::fprintf(stderr, "%s", kUsage);
    return kExitUsage;
  }
  uint8_t model = 0;
  if (!ReadSimulatedModel(pedal, model)) {
    std::fprintf(stderr, "pedal-gadget: %s is not a simulated pedal (no valid model file)\n",
                 pedal.c_str());
    return kExitFailed;
  }
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::path(pedal) / "unplugged", ec)) {
    std::fprintf(stderr, "pedal-gadget: the pedal in %s has been unplugged\n", pedal.c_str());
    return kExitPulled;
  }
  config.product = ModelInfo(model).name;

  // SIGUSR2 only interrupts blocking endpoint I/O; the stop signals are taken by sigwait below.
  struct sigaction action {};
  action.sa_handler = Interrupted;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR2, &action, nullptr);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SimulatedPedalFirmware firmware(pedal);
  PedalScsiTarget target(
      ModelInfo(model).product, static_cast<uint32_t>(blocks),
      [&firmware](const PassThroughRequest& r) { return firmware.Execute(r); },
      static_cast<uint8_t>(version));
  FfsGadget gadget(config);
  BulkOnlyTransport transport(gadget, target);
  std::string error;
  if (!gadget.Start(error)) {
    std::fprintf(stderr, "pedal-gadget: %s\n", error.c_str());
    gadget.Stop();
    gadget.Shutdown();
    return kExitFailed;
  }
  std::thread bulk([&] {
    gadget.Run(transport);
    if (gadget.Lost()) ::kill(::getpid(), SIGUSR1);
  });
  int signal = 0;
  sigwait(&stopSignals, &signal);
  gadget.Stop();
  bulk.join();
  gadget.Shutdown();
  return gadget.Lost() ? kExitPulled : kExitStopped;
}

}  // namespace
}  // namespace rendax

int main(int argc, char** argv) {
  return rendax::Main(argc, argv);
}
