#pragma once
#include <string>
#include <vector>

namespace testsupport {

// The prefix's temporary folder without the trailing backslash.
std::wstring TempFolder();

bool FileExists(const std::wstring& path);
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
void DeleteFileIfAny(const std::wstring& path);

// A log file as text: UTF-16LE (with or without a byte-order mark) or 8-bit, returned as UTF-8.
std::string ReadTextFile(const std::wstring& path);

// The lines of a text, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

void RemoveTree(const std::wstring& folder);

// A fresh empty folder below the temporary folder, named after the current test.
std::wstring MakeScratchFolder(const std::wstring& name);

} // namespace testsupport
