#pragma once
// Where the program keeps what must outlive a run: $XDG_STATE_HOME/mirel,
// else ~/.local/state/mirel, else mirel in the temporary folder.
#include <string>

namespace mirel {

// The folder, created when missing; read from the environment at each call.
std::string StateDir();

}  // namespace mirel
