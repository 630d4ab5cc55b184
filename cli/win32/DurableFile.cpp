#include "cli/DurableFile.h"

#include "config/TextCodec.h"
#include "config/win32/WinApi.h"

// Windows: wide-character paths; files opened write-through and flushed (FlushFileBuffers)
// before they count as written; MoveFileExW replacing with write-through; a file opened
// without sharing for the lock, which the system closes however the process ends.

namespace kx::cli {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string units = text::Utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

bool Fail(std::string& error, const std::string& what, const std::string& path) {
    error = what + " " + path + ": system error " + std::to_string(GetLastError());
    return false;
}

bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD written = 0;
        if (!WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
            written == 0) {
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

}  // namespace

bool ReplaceDurably(const std::string& path, std::string_view contents, std::string& error) {
    const std::string temporary = path + ".tmp";
    HANDLE file = CreateFileW(Wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(error, "cannot create", temporary);
    }
    const bool written = WriteAll(file, contents) && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written) {
        DeleteFileW(Wide(temporary).c_str());
        return Fail(error, "cannot write", temporary);
    }
    if (!MoveFileExW(Wide(temporary).c_str(), Wide(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Fail(error, "cannot rename " + temporary + " to", path);
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error) {
    error.clear();
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
            Fail(error, "cannot read", path);
        }
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    bool read = true;
    while ((read = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
        out.append(buffer, got);
    }
    if (!read) {
        Fail(error, "cannot read", path);
    }
    CloseHandle(file);
    return read ? std::optional(out) : std::nullopt;
}

struct AppendOnlyFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
};

AppendOnlyFile::AppendOnlyFile(std::unique_ptr<Handle> handle, std::string path)
    : handle_(std::move(handle)), path_(std::move(path)) {}
AppendOnlyFile::~AppendOnlyFile() = default;

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error) {
    auto handle = std::make_unique<Handle>();
    handle->file =
        CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) {
        Fail(error, "cannot open", path);
        return nullptr;
    }
    LARGE_INTEGER size{};
    bool cut = false;
    if (GetFileSizeEx(handle->file, &size) && size.QuadPart > 0) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        char last = '\n';
        DWORD got = 0;
        cut = SetFilePointerEx(handle->file, at, nullptr, FILE_BEGIN) &&
              ReadFile(handle->file, &last, 1, &got, nullptr) && got == 1 && last != '\n';
    }
    std::unique_ptr<AppendOnlyFile> file(new AppendOnlyFile(std::move(handle), path));
    file->needNewline_ = cut;
    return file;
}

bool AppendOnlyFile::append(std::string_view line, std::string& error) {
    std::string record(needNewline_ ? "\n" : "");
    record.append(line);
    record += '\n';
    if (!WriteAll(handle_->file, record) || !FlushFileBuffers(handle_->file)) {
        return Fail(error, "cannot append to", path_);
    }
    needNewline_ = false;
    return true;
}

struct ExclusiveLock::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
};

ExclusiveLock::ExclusiveLock(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ExclusiveLock::~ExclusiveLock() = default;

std::unique_ptr<ExclusiveLock> ExclusiveLock::Acquire(const std::string& path, bool& held,
                                                      std::string& error) {
    held = false;
    auto handle = std::make_unique<Handle>();
    // No sharing: a second opener fails with a sharing violation while this one lives.
    handle->file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) {
        held = GetLastError() == ERROR_SHARING_VIOLATION;
        if (!held) {
            Fail(error, "cannot create the lock file", path);
        }
        return nullptr;
    }
    return std::unique_ptr<ExclusiveLock>(new ExclusiveLock(std::move(handle)));
}

}  // namespace kx::cli
