// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_dialog.h"

namespace rendax {

namespace {

class ThreadWorker : public JobWorker {
 public:
  ThreadWorker(TransferState& state, CDevice& device, WavFormat& wav, ResampleState& resample,
               JobFrontEnd& ui)
      : worker_(state, device, wav, resample, ui) {}
  void Start() override { worker_.Start(); }
  void Stop() override { worker_.Stop(); }
  bool Busy() const override { return worker_.Busy(); }

 private:
  Worker worker_;
};

}  // namespace

std::unique_ptr<JobWorker> MakeThreadWorker(TransferState& state, CDevice& device, WavFormat& wav,
                                            ResampleState& resample, JobFrontEnd& ui) {
  return std::make_unique<ThreadWorker>(state, device, wav, resample, ui);
}

}  // namespace rendax
