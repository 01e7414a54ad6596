#pragma once

namespace mirel {

// Registers exFAT with the volume layer: its scanner, its recovery stream,
// and the volume information read from the boot region and the bitmap.
void RegisterExfatFileSystem();

}  // namespace mirel
