#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace inspector {

namespace {

std::string ReasonFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "no such file";
    case EACCES:
    case EPERM:
        return "access denied";
    case EISDIR:
        return "is a folder";
    default:
        return "system error " + std::to_string(error);
    }
}

// Closes on every path and keeps errno as the failing call left it.
class CDescriptor {
public:
    explicit CDescriptor(int fd) noexcept : m_fd(fd) {}
    ~CDescriptor()
    {
        if (m_fd >= 0) {
            const int saved = errno;
            close(m_fd);
            errno = saved;
        }
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;

    int Get() const noexcept { return m_fd; }
    void Reset(int fd) noexcept
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }
    // Closes now, reporting whether the close succeeded.
    bool Close() noexcept
    {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// A device, a FIFO or a socket takes the bytes as they are; there is nothing to replace. A FIFO
// without a reader is refused rather than waited for.
bool WriteThrough(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason)
{
    CDescriptor file(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) {
        reason = errno == ENXIO ? "cannot be written (no program reads from it)"
                                : "cannot be opened for writing (" + ReasonFor(errno) + ")";
        return false;
    }
    const int flags = fcntl(file.Get(), F_GETFL);
    if (flags < 0 || fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !WriteAll(file.Get(), bytes.data(), bytes.size()) || !file.Close()) {
        reason = "cannot be written (" + ReasonFor(errno) + ")";
        return false;
    }
    return true;
}

// Writes a new file beside path and renames it over path, so a failed write leaves an existing
// file as it was. The new file gets the permission bits of the one it replaces.
bool ReplaceRegularFile(const std::string& path, const struct stat* existing, const std::vector<uint8_t>& bytes,
                        std::string& reason)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".inspect-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    CDescriptor file(fd);
    if (file.Get() < 0) {
        reason = "cannot be created (" + ReasonFor(errno) + ")";
        return false;
    }
    if ((existing != nullptr && fchmod(file.Get(), existing->st_mode & 07777) != 0) ||
        !WriteAll(file.Get(), bytes.data(), bytes.size()) || fsync(file.Get()) != 0 || !file.Close()) {
        reason = "cannot be written (" + ReasonFor(errno) + ")";
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        reason = "cannot be replaced (" + ReasonFor(errno) + ")";
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string NotRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return "is a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device, not a regular file";
    if (S_ISFIFO(mode) || S_ISSOCK(mode))
        return "is a FIFO or a pipe, not a regular file";
    return "is not a regular file";
}

// Opens a regular file for reading. Anything else is refused before a byte is read: a FIFO
// without a writer or a terminal would keep the tool waiting, and a device never ends. The
// path is looked at first so that no device is opened at all; the descriptor is checked again
// in case the path changed in between, and the open never waits.
bool OpenForReading(const std::string& path, CDescriptor& file, std::string& reason)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        reason = ReasonFor(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = NotRegular(status.st_mode);
        return false;
    }
    file.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0) {
        reason = ReasonFor(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = NotRegular(status.st_mode);
        return false;
    }
    return true;
}

} // namespace

bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes, std::string& reason,
                   bool* tooLarge)
{
    CDescriptor file(-1);
    if (!OpenForReading(path, file, reason))
        return false;
    // The size is checked while reading: a growing file has no reliable size.
    std::vector<uint8_t> content;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = read(file.Get(), buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = "cannot be read (" + ReasonFor(errno) + ")";
            return false;
        }
        if (got == 0)
            break;
        if (content.size() + size_t(got) > maxSize) {
            reason = "larger than " + std::to_string(maxSize) + " bytes, more than this tool reads";
            if (tooLarge != nullptr)
                *tooLarge = true;
            return false;
        }
        content.insert(content.end(), buffer, buffer + got);
    }
    bytes.swap(content);
    return true;
}

bool ReadFileInPieces(const std::string& path, const std::function<bool(const uint8_t*, size_t)>& consume,
                      std::string& reason)
{
    CDescriptor file(-1);
    if (!OpenForReading(path, file, reason))
        return false;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        const ssize_t got = read(file.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = "cannot be read (" + ReasonFor(errno) + ")";
            return false;
        }
        if (got == 0 || !consume(buffer.data(), size_t(got)))
            return true;
    }
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason)
{
    struct stat target;
    if (stat(path.c_str(), &target) != 0) {
        if (errno != ENOENT) {
            reason = "cannot be written (" + ReasonFor(errno) + ")";
            return false;
        }
        struct stat link;
        if (lstat(path.c_str(), &link) == 0) {
            reason = "is a symbolic link to a file that does not exist";
            return false;
        }
        return ReplaceRegularFile(path, nullptr, bytes, reason);
    }
    if (S_ISDIR(target.st_mode)) {
        reason = "is a folder";
        return false;
    }
    if (!S_ISREG(target.st_mode))
        return WriteThrough(path, bytes, reason);
    // A symbolic link stays and its target gets the new content, as a shell redirection does.
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        reason = "cannot be written (" + ReasonFor(errno) + ")";
        return false;
    }
    const std::string finalPath = resolved;
    std::free(resolved);
    return ReplaceRegularFile(finalPath, &target, bytes, reason);
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    struct stat a;
    struct stat b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool GetRandomBytes(uint8_t* buffer, size_t size, std::string& reason)
{
    CDescriptor source(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (source.Get() < 0) {
        reason = "/dev/urandom: " + ReasonFor(errno);
        return false;
    }
    while (size > 0) {
        const ssize_t got = read(source.Get(), buffer, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            reason = "/dev/urandom cannot be read";
            return false;
        }
        buffer += got;
        size -= size_t(got);
    }
    return true;
}

} // namespace inspector
