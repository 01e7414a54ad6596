#pragma once
// Case mapping for names held as UTF-8: ASCII letters, and the Latin letters
// of U+00C0..U+017F, whose two cases are encoded in the same number of bytes.
// Keeping the byte length lets the matcher compare a slice of a name of the
// pattern's length without decoding it. Other bytes pass unchanged.
#include <string>
#include <string_view>

namespace mirel {

char AsciiLower(char c);
char AsciiUpper(char c);
std::string Utf8Lower(std::string_view s);
std::string Utf8Upper(std::string_view s);
// Equal when the two texts differ only in the case of the letters above.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

}  // namespace mirel
