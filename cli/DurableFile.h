#pragma once
// Files whose contents must survive a crash, a kill or a power loss: the provisioning
// counter and its log. One file per platform: cli/linux/DurableFile.cpp, cli/win32/DurableFile.cpp.
// Paths are UTF-8. Every failure comes back as false (or null) with one line in `error`
// naming the file and the system's reason.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kx::cli {

// Replaces `path` with `contents` all at once: written to a temporary file beside it,
// flushed to the disk, renamed over it, and the folder flushed, so that after any crash the
// file holds either all of the old contents or all of the new.
[[nodiscard]] bool ReplaceDurably(const std::string& path, std::string_view contents,
                                  std::string& error);

// The whole file; nullopt when it does not exist (`error` empty) or cannot be read (`error`
// set).
[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error);

// A file that lines are only ever appended to, each in one write and flushed to the disk
// before append() returns. Nothing in it is rewritten; a line a crash cut short is left as
// it is and the next one starts on a line of its own.
class AppendOnlyFile {
  public:
    [[nodiscard]] static std::unique_ptr<AppendOnlyFile> Open(const std::string& path,
                                                              std::string& error);
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;
    // `line` without its newline.
    [[nodiscard]] bool append(std::string_view line, std::string& error);

  private:
    struct Handle;
    explicit AppendOnlyFile(std::unique_ptr<Handle> handle, std::string path);
    std::unique_ptr<Handle> handle_;
    std::string path_;
    bool needNewline_ = false;
};

// An exclusive lock on `path` (created if missing), held while the object lives, and
// released by the system when the process ends however it ends. Null when another process
// holds it (`held` true) or the file cannot be made (`error` set).
class ExclusiveLock {
  public:
    [[nodiscard]] static std::unique_ptr<ExclusiveLock> Acquire(const std::string& path, bool& held,
                                                                std::string& error);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  private:
    struct Handle;
    explicit ExclusiveLock(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace kx::cli
