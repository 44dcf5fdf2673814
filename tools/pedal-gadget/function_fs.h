// SPDX-License-Identifier: GPL-3.0-or-later
// A USB mass-storage interface served from user space through FunctionFS, bound to a USB
// device controller (dummy_hcd in the tests) through the gadget configfs.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tools/pedal-gadget/bulk_only.h"

namespace rendax {

struct GadgetConfig {
  std::string name = "rendax0";  // configfs gadget and FunctionFS instance name
  std::string udc;               // controller to bind to, e.g. "dummy_udc.0"
  std::string configfs = "/sys/kernel/config";
  std::string mountDir;  // where FunctionFS is mounted; default /dev/ffs-<name>
  uint16_t vendorId = 0x1d6b;
  uint16_t productId = 0x0104;
  std::string manufacturer = "QELM";
  std::string product = "Rendax";
  std::string serial = "0001";
};

// One gadget: Start() builds it in configfs, mounts FunctionFS, writes the descriptors and binds
// it; Run() serves commands until Stop() (another thread) or the pedal goes away; Shutdown()
// unbinds and removes everything Start() made. Errors come back as text, never as exceptions.
class FfsGadget : public BulkPipes {
 public:
  explicit FfsGadget(GadgetConfig config);
  ~FfsGadget() override;
  FfsGadget(const FfsGadget&) = delete;
  FfsGadget& operator=(const FfsGadget&) = delete;

  bool Start(std::string& error);
  // Serves the transport on the calling thread; returns when stopped or the pedal was lost.
  void Run(BulkOnlyTransport& transport);
  // Asks Run() to return; callable from any thread (not from a signal handler).
  void Stop();
  void Shutdown();
  bool Lost() const { return lost_.load(); }

  long ReadOut(uint8_t* buffer, size_t size) override;
  bool WriteIn(const uint8_t* buffer, size_t size) override;
  void HaltIn() override;
  void HaltOut() override;
  bool WaitForReset() override;
  void Disconnect() override;

 private:
  void Ep0Loop();
  void HandleSetup(const uint8_t* setup);
  bool WriteUdc(const std::string& value);
  bool WaitEnabled();

  GadgetConfig config_;
  std::string gadgetDir_;
  int ep0_ = -1, epIn_ = -1, epOut_ = -1;
  bool mounted_ = false, linked_ = false;
  std::atomic<bool> bound_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> ep0Done_{false};
  std::atomic<bool> bulkDone_{false};

  std::mutex mutex_;
  std::condition_variable changed_;
  bool enabled_ = false;
  uint64_t resets_ = 0;
  uint64_t resetMark_ = 0;  // resets_ when the pipes were last halted

  std::thread ep0Thread_;
  std::atomic<pthread_t> bulkThread_{};
};

}  // namespace rendax
