#include "tests/common/files.h"

#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace testsupport {

std::wstring TempFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    std::wstring path(folder);
    if (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << Narrow(path);
}

void DeleteFileIfAny(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

std::string ReadTextFile(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    size_t start = 0;
    bool wide = bytes.size() >= 2 && bytes[1] == 0;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        wide = true;
        start = 2;
    }
    if (!wide)
        return std::string(bytes.begin(), bytes.end());
    std::wstring text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    return Narrow(text);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void RemoveTree(const std::wstring& folder)
{
    std::wstring from = folder;
    from.push_back(L'\0'); // the operation takes a double-terminated list
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

std::wstring MakeScratchFolder(const std::wstring& name)
{
    const std::wstring folder = TempFolder() + L"\\submca-tests\\" + name;
    RemoveTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return folder;
}

} // namespace testsupport
