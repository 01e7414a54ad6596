#pragma once
// The names the eraser gives its temporary files: "_E" and six lower-case hex
// digits counted from 0x100000, ".BAK".
#include <cstddef>
#include <string>

namespace mirel {

// "_E100000.BAK" for index 0.
std::string EraserTempName(size_t index);
// Whether a name is one the eraser gives (_E??????.BAK, either case).
bool IsEraserTempName(const std::string& name);

}  // namespace mirel
