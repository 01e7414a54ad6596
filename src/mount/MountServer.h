#pragma once
// Serves a mount tree as a read-only FUSE file system. Requests are handled
// on threads of its own, several at once: the tree is never changed, and
// each open file has its own stream behind its own lock, so one slow read
// (a sector that is retried) holds up only the readers of that file.
#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/ByteRanges.h"
#include "mount/MountTree.h"
#include "platform/Event.h"

struct fuse;

namespace mirel {

struct TOpenFile;

// Why FUSE cannot be used here ("" when it can): /dev/fuse is missing or
// cannot be opened.
std::string FuseProblem();
// Why path cannot be a mount point ("" when it can): it is missing, not a
// folder, not empty, or a mount left behind by a server that is gone.
std::string MountPointProblem(const std::string& path);

struct TUnreadableFile {
  std::string Path;
  int64_t Size = 0;
  TByteRanges Ranges;
};

class TMountServer {
public:
  // name: shown as the mount's source in the mount table.
  TMountServer(const TMountTree& tree, std::string name);
  ~TMountServer();
  TMountServer(const TMountServer&) = delete;
  TMountServer& operator=(const TMountServer&) = delete;

  // Mounts at mountPoint and serves until Stop or an unmount from outside.
  // False, with the reason in why, when it cannot mount.
  [[nodiscard]] bool Start(const std::string& mountPoint, std::string& why);
  // Stops serving and unmounts. Files still open on the mount fail from then
  // on; nothing refers to the tree afterwards.
  void Stop();
  // Set once serving has ended (after Stop, or an unmount from outside).
  TEvent Ended;
  // Whether the mount is still in place; false as soon as it was unmounted
  // from outside, before the serving threads have noticed.
  bool Mounted() const;
  const std::string& MountPoint() const { return Point; }

  // The files whose reads failed, with the ranges that could not be read.
  std::vector<TUnreadableFile> Unreadable() const;

  // For the request handlers.
  const TMountTree& Tree;
  // Null when the node's data has no stream.
  TOpenFile* OpenFile(uint32_t node);
  void CloseFile(TOpenFile* file);

private:
  void Serve();

  std::string Name;
  std::string Point;
  // The device number of the mounted file system.
  dev_t Device = 0;
  struct fuse* Fuse = nullptr;
  int StopFd = -1;
  std::vector<std::thread> Workers;
  std::atomic<int> Running{0};

  mutable std::mutex FilesLock;
  std::unordered_map<TOpenFile*, std::unique_ptr<TOpenFile>> Open;
  // The ranges failed reads met, by node, from files already closed.
  std::unordered_map<uint32_t, TByteRanges> Failed;
};

}  // namespace mirel
