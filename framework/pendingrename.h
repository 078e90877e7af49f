#pragma once

namespace InstallToolBox {

enum DeleteStatus {
    kDeleted = 0,
    kNothingToDelete = 1,
    kDeleteAtRestart = 3,
};

// Deletes the files the path names (it may hold wildcards; names beginning with a dot are left
// alone). A file another process holds open is scheduled for deletion at the next restart.
int DeleteFileNowOrAtRestart(const wchar_t* path);

// Appends (short path, nothing) to the system's pending file-rename list and repairs the list.
// Returns 1; the Windows 95/98/Me form through WININIT.INI is not supported, there it returns 0.
int ScheduleDeleteAtRestart(const wchar_t* path);

// Removes stray empty strings where a pair of the pending file-rename list would begin: tools
// that stop at the first empty string would otherwise miss the entries behind it. Entries
// themselves are kept exactly as they are.
void FixPendingRenameKeyNT();

} // namespace InstallToolBox
