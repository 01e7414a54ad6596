#include "ui/FolderMount.h"

#include <QDir>
#include <QStandardPaths>

#include "core/DiskObject.h"
#include "mount/MountServer.h"
#include "mount/MountTree.h"
#include "workers/RecoveredFileWriter.h"

namespace mirel::ui {

std::unique_ptr<TFolderMount> TFolderMount::Start(TDiskObject* disk, QString& why) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!disk || runtime.isEmpty()) {
    why = QStringLiteral("There is no folder for the running program's files ($XDG_RUNTIME_DIR).");
    return nullptr;
  }
  std::unique_ptr<TFolderMount> m(new TFolderMount);
  m->Volume = disk;
  m->Point = runtime + QStringLiteral("/mirel/") + QString::fromStdString(SafeFileName(disk->Name));
  if (!QDir().mkpath(m->Point)) {
    why = QStringLiteral("%1 cannot be created.").arg(m->Point);
    return nullptr;
  }
  m->Tree = std::make_unique<TMountTree>(disk->Folders, disk->Files, TEntryFilter());
  m->Server = std::make_unique<TMountServer>(*m->Tree, disk->Name);
  std::string problem;
  if (!m->Server->Start(m->Point.toStdString(), problem)) {
    why = QStringLiteral("%1: %2").arg(m->Point, QString::fromStdString(problem));
    return nullptr;
  }
  return m;
}

TFolderMount::~TFolderMount() {
  // The server first: it refers to the tree.
  Server.reset();
}

bool TFolderMount::Serving() const { return Server->Mounted(); }

QString TFolderMount::PathOf(TFileInfo* folder) const {
  const std::optional<uint32_t> node = folder ? Tree->NodeOf(folder) : std::nullopt;
  if (!node) return Point;
  const QString inner = QString::fromStdString(Tree->PathOf(*node));
  // The root folder is the mount point itself.
  return inner == QLatin1String("/") ? Point : Point + inner;
}

}  // namespace mirel::ui
