// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/hotplug.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "transfer/texts.h"

namespace rendax {

HotplugSource::HotplugSource(std::unique_ptr<NoticeFeed> feed, NoticeSink sink)
    : feed_(std::move(feed)), sink_(std::move(sink)) {
  if (feed_->Fd() >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(feed_->Fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Receive(); });
  } else if (feed_->ScanInterval().count() > 0) {
    connect(&scan_, &QTimer::timeout, this, [this] { Receive(); });
    scan_.start(feed_->ScanInterval());
  }
  settle_.setSingleShot(true);
  settle_.setTimerType(Qt::PreciseTimer);
  connect(&settle_, &QTimer::timeout, this, [this] { Flush(); });
}

HotplugSource::~HotplugSource() {
  if (notifier_) notifier_->setEnabled(false);
}

void HotplugSource::Receive() {
  std::vector<HotplugNotice> notices;
  if (!feed_->Read(notices)) {
    // A dead descriptor would wake the loop forever.
    if (notifier_) notifier_->setEnabled(false);
    scan_.stop();
    std::fprintf(stderr, "rendax: %s; %s\n", kStoppedWatchingPedals, kRestartAfterConnecting);
  }
  for (HotplugNotice n : notices) settler_.Add(n, NoticeSettler::Clock::now());
  if (!notices.empty() && !settle_.isActive()) Arm();
}

void HotplugSource::Arm() {
  if (!settler_.Pending()) return;
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(settler_.Due() - NoticeSettler::Clock::now());
  settle_.start(std::max(wait, std::chrono::milliseconds::zero()));
}

void HotplugSource::Flush() {
  const std::vector<HotplugNotice> notices = settler_.Take(NoticeSettler::Clock::now());
  // A timer that fired a little early waits for the rest.
  if (notices.empty()) return Arm();
  for (HotplugNotice n : notices) sink_(n);
}

std::unique_ptr<HotplugSource> WatchDevices(DevicePlatform& platform, NoticeSink sink) {
  std::string error;
  std::unique_ptr<NoticeFeed> feed = platform.WatchNotices(error);
  if (!feed) {
    std::fprintf(stderr, "rendax: %s (%s); %s\n", kCannotWatchPedals, error.c_str(),
                 kRestartAfterConnecting);
    return nullptr;
  }
  return std::make_unique<HotplugSource>(std::move(feed), std::move(sink));
}

}  // namespace rendax
