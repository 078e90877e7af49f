// The few operating-system services the tool needs, one implementation per platform. Paths are
// UTF-8. On failure reason gets a short stable text ("no such file", "access denied", "is a
// folder", ...) that the commands put into their one-line messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace inspector {

// The whole file; refused when it is larger than maxSize bytes, and then *tooLarge (when given)
// is set, so that a limit of the tool is told apart from a file that cannot be read.
bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes, std::string& reason,
                   bool* tooLarge = nullptr);

// A regular file (or a new one) is written beside path and then moved over it, so a failed write
// leaves an existing file as it was; the new file keeps the replaced one's permissions. A
// symbolic link is followed and its target replaced. Anything else that takes bytes (a device
// such as /dev/null or NUL, a FIFO or pipe with a reader) is written through, never replaced.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason);

// Whether both paths name one existing file (also through links or other spellings).
bool IsSameFile(const std::string& first, const std::string& second);

// Hands the file to consume in pieces, from the start, without holding it whole; stops early when
// consume returns false. Fails for a folder or a file that cannot be opened or read.
bool ReadFileInPieces(const std::string& path, const std::function<bool(const uint8_t*, size_t)>& consume,
                      std::string& reason);

// Bytes from the system's cryptographic random source.
bool GetRandomBytes(uint8_t* buffer, size_t size, std::string& reason);

} // namespace inspector
