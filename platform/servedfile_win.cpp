#include "platform/ServedFile.h"

#include <windows.h>

#include <algorithm>

namespace orvantis {

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool ServedFile::Open(const wxString& path)
{
    Close();
    if (path.empty())
        return false;
    // Shared for deletion too, so that replacing the file meanwhile is not
    // refused because a phone is reading it.
    HANDLE file = CreateFileW(path.wc_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

long ServedFile::Read(void* buffer, std::size_t length)
{
    if (m_handle == -1)
        return -1;
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    if (!ReadFile(AsHandle(m_handle), buffer, want, &n, nullptr))
        return -1;
    return static_cast<long>(n);
}

void ServedFile::Close()
{
    if (m_handle != -1)
        CloseHandle(AsHandle(m_handle));
    m_handle = -1;
    m_size = 0;
}

}  // namespace orvantis
