#pragma once
// The eraser's temporary files, known to a signal handler: a process killed by
// SIGTERM (or a second Ctrl+C) must not leave them filling the volume. The
// handler may only walk the list and unlink, so entries are published with
// atomic stores and never freed while a handler could still see them.
#include <string>

namespace mirel {

struct TTempFileSlot;

// Records path; returns the slot to forget once the file is gone.
TTempFileSlot* RegisterTempFile(const std::string& path);
// The file was removed normally: the handler leaves it alone.
void ForgetTempFile(TTempFileSlot* slot);
// Unlinks every recorded file not yet forgotten. Async-signal-safe.
void UnlinkRegisteredTempFiles();
// Frees the forgotten slots; only when no signal handler can run it.
void CompactTempFileRegistry();

}  // namespace mirel
