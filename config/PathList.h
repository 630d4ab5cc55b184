#pragma once
// The system's search path as the installer edits it: a ';'-separated list of folders. Pure
// text work, so the installer's helper and the tests share it.

#include <string>
#include <string_view>

namespace kx::pathlist {

// True when two entries name the same folder as Windows reads them: ASCII letters in either
// case, surrounding blanks and double quotes and one trailing backslash ignored.
[[nodiscard]] bool SameFolder(std::wstring_view a, std::wstring_view b);

// `value` with `folder` as its last entry, or `value` itself when an entry names it already.
// Appended behind one more ';' whatever `value` ends with, so that WithoutFolder gives back
// exactly the value it was added to.
[[nodiscard]] std::wstring WithFolder(std::wstring_view value, std::wstring_view folder);

// `value` without every entry that names `folder`, each with the separator before it (after
// it, for the first entry); every other entry keeps its spelling and place.
[[nodiscard]] std::wstring WithoutFolder(std::wstring_view value, std::wstring_view folder);

}  // namespace kx::pathlist
