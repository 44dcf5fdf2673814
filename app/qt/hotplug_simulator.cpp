#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <set>

#include "app/qt/hotplug.h"

namespace rendax {

namespace {

class SimulatorHotplug : public HotplugSource {
 public:
  SimulatorHotplug(const std::string& root, NoticeSink sink)
      : HotplugSource(std::move(sink)), root_(QString::fromStdString(root)) {
    attached_ = Scan();
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Rescan(); });
  }

 private:
  // The attached pedals: subfolders with a model and without the `unplugged` marker. Every
  // pedal folder is watched too, since a cable pull only writes the marker inside it.
  std::set<QString> Scan() {
    std::set<QString> attached;
    QDir root(root_);
    if (!root.exists()) return attached;
    if (!watcher_.directories().contains(root_)) watcher_.addPath(root_);
    for (const QFileInfo& entry : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QString path = entry.absoluteFilePath();
      if (!watcher_.directories().contains(path)) watcher_.addPath(path);
      QDir pedal(path);
      if (pedal.exists("model") && !pedal.exists("unplugged")) attached.insert(path);
    }
    return attached;
  }

  void Rescan() {
    std::set<QString> now = Scan();
    bool gone = false, came = false;
    for (const QString& p : attached_) gone |= !now.count(p);
    for (const QString& p : now) came |= !attached_.count(p);
    attached_ = std::move(now);
    if (gone) Raise(DeviceNotice::DeviceRemoval);
    if (came) Raise(DeviceNotice::VolumeArrival);
  }

  QString root_;
  QFileSystemWatcher watcher_;
  std::set<QString> attached_;
};

}  // namespace

std::unique_ptr<HotplugSource> WatchSimulator(const std::string& root, NoticeSink sink) {
  return std::make_unique<SimulatorHotplug>(root, std::move(sink));
}

}  // namespace rendax
