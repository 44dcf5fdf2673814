#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <set>

#include "app/qt/hotplug.h"
#include "device/platform/sim/sim_pedal.h"

namespace rendax {

namespace {

class SimulatorHotplug : public HotplugSource {
 public:
  SimulatorHotplug(const std::string& root, NoticeSink sink)
      : HotplugSource(std::move(sink)), root_(QString::fromStdString(root)), platform_(root) {
    attached_ = Scan();
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Rescan(); });
  }

 private:
  // The attached pedals as the simulator platform lists them, so the window looks for a pedal
  // exactly when discovery would find one. Every pedal folder is watched, since a cable pull
  // only writes the marker inside it; while the root is missing its parent is watched, so the
  // first pedal made is seen.
  std::set<std::string> Scan() {
    QDir root(root_);
    if (!root.exists()) {
      const QString parent = QFileInfo(root_).absolutePath();
      if (QDir(parent).exists() && !watcher_.directories().contains(parent)) {
        watcher_.addPath(parent);
      }
      return {};
    }
    if (!watcher_.directories().contains(root_)) watcher_.addPath(root_);
    for (const QFileInfo& entry : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QString path = entry.absoluteFilePath();
      if (!watcher_.directories().contains(path)) watcher_.addPath(path);
    }
    std::vector<std::string> paths;
    std::string error;
    // A folder that cannot be read holds no attached pedal.
    if (!platform_.ListCandidates(paths, error)) return {};
    return {paths.begin(), paths.end()};
  }

  void Rescan() {
    std::set<std::string> now = Scan();
    bool gone = false, came = false;
    for (const std::string& p : attached_) gone |= !now.count(p);
    for (const std::string& p : now) came |= !attached_.count(p);
    attached_ = std::move(now);
    if (gone) Raise(HotplugNotice::DeviceRemoval);
    if (came) Raise(HotplugNotice::VolumeArrival);
  }

  QString root_;
  SimulatorPlatform platform_;
  QFileSystemWatcher watcher_;
  std::set<std::string> attached_;
};

}  // namespace

std::unique_ptr<HotplugSource> WatchSimulator(const std::string& root, NoticeSink sink) {
  return std::make_unique<SimulatorHotplug>(root, std::move(sink));
}

}  // namespace rendax
