#include "platform/FileReplace.h"

#include <windows.h>

#include <algorithm>
#include <random>

namespace orvantis {

namespace {

bool WriteAll(HANDLE file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

std::wstring UniqueEnding()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring ending = L".part-";
    for (int i = 0; i < 10; ++i)
        ending += kLetters[random() % (sizeof kLetters / sizeof kLetters[0] - 1)];
    return ending;
}

}  // namespace

NewFileResult WriteNewFileBeside(const wxString& target, const std::string& bytes, wxString& written)
{
    const std::wstring base(target.wc_str());
    if (base.empty())
        return NewFileResult::NotCreated;
    std::wstring name;
    HANDLE file = INVALID_HANDLE_VALUE;
    // CREATE_NEW fails on any existing name, a link included.
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        name = base + UniqueEnding();
        file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        return NewFileResult::NotCreated;
    const bool wrote = WriteAll(file, bytes);
    const bool closed = CloseHandle(file) != 0;
    if (!wrote || !closed) {
        DeleteFileW(name.c_str());
        return NewFileResult::NotWritten;
    }
    written = wxString(name.c_str());
    return NewFileResult::Written;
}

bool ReplaceFileWith(const wxString& from, const wxString& to)
{
    return MoveFileExW(from.wc_str(), to.wc_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool OverwriteFileInPlace(const wxString& path, const std::string& bytes)
{
    if (path.empty())
        return false;
    // Opened as it is, a link included, and rewritten only when it is a
    // plain file of one name.
    HANDLE file = CreateFileW(path.wc_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info) && GetFileType(file) == FILE_TYPE_DISK &&
              !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
              info.nNumberOfLinks == 1 && SetEndOfFile(file) && WriteAll(file, bytes);
    ok = CloseHandle(file) != 0 && ok;
    return ok;
}

void RemoveFileQuietly(const wxString& path)
{
    DeleteFileW(path.wc_str());
}

}  // namespace orvantis
