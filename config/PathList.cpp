#include "config/PathList.h"

#include <vector>

namespace kx::pathlist {
namespace {

std::wstring_view Trimmed(std::wstring_view entry) {
    const auto isPadding = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'"'; };
    while (!entry.empty() && isPadding(entry.front())) entry.remove_prefix(1);
    while (!entry.empty() && isPadding(entry.back())) entry.remove_suffix(1);
    if (entry.size() > 1 && entry.back() == L'\\')
        entry.remove_suffix(1);
    return entry;
}

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c;
}

std::vector<std::wstring_view> Entries(std::wstring_view value) {
    std::vector<std::wstring_view> entries;
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find(L';', start);
        entries.push_back(value.substr(start, end - start));
        if (end == std::wstring_view::npos)
            return entries;
        start = end + 1;
    }
}

}  // namespace

bool SameFolder(std::wstring_view a, std::wstring_view b) {
    a = Trimmed(a);
    b = Trimmed(b);
    if (a.empty() || a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::wstring WithFolder(std::wstring_view value, std::wstring_view folder) {
    for (const auto entry : Entries(value)) {
        if (SameFolder(entry, folder))
            return std::wstring(value);
    }
    std::wstring result(value);
    if (!result.empty())
        result += L';';
    return result.append(folder);
}

std::wstring WithoutFolder(std::wstring_view value, std::wstring_view folder) {
    std::wstring result;
    bool first = true;
    for (const auto entry : Entries(value)) {
        if (SameFolder(entry, folder))
            continue;
        if (!first)
            result += L';';
        result.append(entry);
        first = false;
    }
    return result;
}

}  // namespace kx::pathlist
