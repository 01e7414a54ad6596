#pragma once
// Re-creates found entries as files and folders under a destination folder:
// data, named streams where the destination holds them, size, times and
// attributes.
#include <string>

#include "core/FileInfo.h"

namespace mirel {

class TRecoveringThread;

constexpr size_t RECOVERY_BLOCK = 65536;

// path: the destination file name. Failures skip the file and are reported
// through the thread's OnFileDone.
void RecoverFile(TRecoveringThread& thread, std::string path, PFileInfo entry);
// path: the destination folder, ending with "/". Writes the folder's files
// that pass the thread's filter, then its subfolders; a folder without such
// files below it is not created.
void RecoverFolder(TRecoveringThread& thread, const std::string& path, PFileInfo entry, int depth = 0);

// Creates every missing folder of path; failures are left for the caller's
// existence test.
void CreateFolderChain(const std::string& path);

// A name from the volume made safe as one path component: no "/" or NUL, not
// "." or "..", so a hostile name cannot leave the destination folder.
std::string SafeFileName(const std::string& name);

}  // namespace mirel
