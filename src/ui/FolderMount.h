#pragma once
// "Open as Folder": a scanned volume's catalogue served as a read-only file
// system under $XDG_RUNTIME_DIR/mirel/NAME, in this process, for the
// desktop's file manager. Unmounted when the object goes, which must be
// before the catalogue is cleared.
#include <QString>
#include <memory>

#include "core/FileInfo.h"

namespace mirel {
class TDiskObject;
class TMountServer;
class TMountTree;
}  // namespace mirel

namespace mirel::ui {

class TFolderMount {
public:
  // Serves the volume's whole catalogue; null, with the reason in why, when
  // it cannot.
  [[nodiscard]] static std::unique_ptr<TFolderMount> Start(TDiskObject* disk, QString& why);
  ~TFolderMount();
  TFolderMount(const TFolderMount&) = delete;
  TFolderMount& operator=(const TFolderMount&) = delete;

  // Where the catalogue folder is served; the top for a folder that is not
  // served (or null).
  QString PathOf(TFileInfo* folder) const;
  TDiskObject* Disk() const { return Volume; }
  // False once the folder was unmounted from outside.
  bool Serving() const;
  const QString& MountPoint() const { return Point; }

private:
  TFolderMount() = default;
  TDiskObject* Volume = nullptr;
  QString Point;
  std::unique_ptr<TMountTree> Tree;
  std::unique_ptr<TMountServer> Server;
};

}  // namespace mirel::ui
