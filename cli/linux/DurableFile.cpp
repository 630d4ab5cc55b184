#include "cli/DurableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// POSIX: write, fsync, rename, fsync the folder; flock for the lock.

namespace kx::cli {
namespace {

bool Fail(std::string& error, const std::string& what, const std::string& path) {
    error = what + " " + path + ": " + std::strerror(errno);
    return false;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceDurably(const std::string& path, std::string_view contents, std::string& error) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Fail(error, "cannot create", temporary);
    }
    const bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    if (!written) {
        ::unlink(temporary.c_str());
        return Fail(error, "cannot write", temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return Fail(error, "cannot rename " + temporary + " to", path);
    }
    // The rename itself is only durable once the folder's entry is on the disk.
    const std::string folder = FolderOf(path);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return Fail(error, "cannot open the folder", folder);
    }
    const bool synced = ::fsync(dir) == 0;
    ::close(dir);
    return synced || Fail(error, "cannot flush the folder", folder);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error) {
    error.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            Fail(error, "cannot read", path);
        }
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            Fail(error, "cannot read", path);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

struct AppendOnlyFile::Handle {
    int fd = -1;
    ~Handle() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

AppendOnlyFile::AppendOnlyFile(std::unique_ptr<Handle> handle, std::string path)
    : handle_(std::move(handle)), path_(std::move(path)) {}
AppendOnlyFile::~AppendOnlyFile() = default;

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error) {
    auto handle = std::make_unique<Handle>();
    handle->fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (handle->fd < 0) {
        Fail(error, "cannot open", path);
        return nullptr;
    }
    const off_t size = ::lseek(handle->fd, 0, SEEK_END);
    char last = '\n';
    const bool cut = size > 0 && ::pread(handle->fd, &last, 1, size - 1) == 1 && last != '\n';
    std::unique_ptr<AppendOnlyFile> file(new AppendOnlyFile(std::move(handle), path));
    file->needNewline_ = cut;
    return file;
}

bool AppendOnlyFile::append(std::string_view line, std::string& error) {
    std::string record;
    record.reserve(line.size() + 2);
    if (needNewline_) {
        record += '\n';
    }
    record.append(line);
    record += '\n';
    if (!WriteAll(handle_->fd, record) || ::fsync(handle_->fd) != 0) {
        return Fail(error, "cannot append to", path_);
    }
    needNewline_ = false;
    return true;
}

struct ExclusiveLock::Handle {
    int fd = -1;
    ~Handle() {
        if (fd >= 0) {
            ::close(fd);  // releases the lock
        }
    }
};

ExclusiveLock::ExclusiveLock(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ExclusiveLock::~ExclusiveLock() = default;

std::unique_ptr<ExclusiveLock> ExclusiveLock::Acquire(const std::string& path, bool& held,
                                                      std::string& error) {
    held = false;
    auto handle = std::make_unique<Handle>();
    handle->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (handle->fd < 0) {
        Fail(error, "cannot create the lock file", path);
        return nullptr;
    }
    if (::flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
        if (!held) {
            Fail(error, "cannot lock", path);
        }
        return nullptr;
    }
    return std::unique_ptr<ExclusiveLock>(new ExclusiveLock(std::move(handle)));
}

}  // namespace kx::cli
