#pragma once
// Re-creates found entries as files and folders under a destination folder:
// data, named streams where the destination holds them, size, times and
// attributes. A file is written under a temporary name and takes its own
// name only when it is whole, so an interrupted run leaves no cut file behind.
#include <string>

#include "core/FileInfo.h"

namespace mirel {

class TDestFolder;
class TRecoveringThread;

constexpr size_t RECOVERY_BLOCK = 65536;

// Writes entry as name (one path component) in folder; the result goes to
// the thread's OnFileDone.
void RecoverFile(TRecoveringThread& thread, TDestFolder& folder, std::string name, TFileInfo* entry);
// Writes the folder's files that pass the thread's filter into folder, then
// its subfolders; a folder without such files below it is not created.
void RecoverFolder(TRecoveringThread& thread, TDestFolder& folder, TFileInfo* entry, int depth = 0);

// A name from the volume made safe as one path component: no "/" or NUL, not
// "." or "..", so a hostile name cannot leave the destination folder.
std::string SafeFileName(const std::string& name);

// ".NAME.mirel-" plus six random letters and digits, within the 255-byte
// name limit: where a file is written until it is whole.
std::string TempFileName(const std::string& name);

}  // namespace mirel
