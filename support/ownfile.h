#pragma once
#include <windows.h>

namespace srLib {

// Why an open file is not a plain file of its own at the path it was opened by.
enum class EFileRefusal {
    eNone,      // a disk file with one name, reached by that path itself
    eNotDisk,   // a pipe, a console, a device
    eLinked,    // more than one hard link: the same bytes live under another name too
    eElsewhere, // a symbolic link, junction or mount point on the way led somewhere else
    eUnchecked, // the system could not say (or memory ran out): taken as refused
};

// For code that acts on a file as SYSTEM by a path that others may have prepared: whether the
// handle, opened by path, is a disk file with one link whose final path is path itself. Both
// paths are compared made full and long (8.3 names expanded), without the "\\?\" prefix and
// regardless of case, so a path given in its short form still matches. A file on a mapped
// network drive or a substituted drive shows its final path under another name and is refused.
EFileRefusal CheckOwnFile(HANDLE file, const wchar_t* path) noexcept;

// The refusal in words, for trace lines.
const wchar_t* DescribeRefusal(EFileRefusal refusal) noexcept;

} // namespace srLib
