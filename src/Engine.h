#pragma once

namespace mirel {

// Registers every file system with the volume layer. Call once at program
// start, before the volume list is built.
void StartEngine();

}  // namespace mirel
