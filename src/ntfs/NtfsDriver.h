#pragma once
// Registers the NTFS scanner, stream and volume information with the engine.
#include "core/DiskObject.h"

namespace mirel {

void RegisterNtfsFileSystem();
// The label from $Volume and the free bytes from the cluster bitmap.
void ReadNtfsVolumeInfo(TDiskObject& disk, const TByteSource& handle);

}  // namespace mirel
