#pragma once
// A file the web service sends to phones, read in pieces from an open
// handle so that memory does not grow with the file or with the readers.

#include <cstddef>
#include <cstdint>

#include <wx/string.h>

namespace orvantis {

class ServedFile {
public:
    ServedFile() = default;
    ~ServedFile() { Close(); }
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;

    // Opens `path` for reading when it names a regular file. The open itself
    // never waits: a FIFO or a device put in the file's place would hold the
    // caller for good, so it is opened without blocking and refused once the
    // open handle shows what it is. False when missing, not a regular file
    // or not readable.
    bool Open(const wxString& path);
    // The file's length when it was opened, from the open handle.
    std::uint64_t Size() const { return m_size; }
    // Reads up to `length` bytes: the count read, 0 at the end, -1 on error.
    long Read(void* buffer, std::size_t length);
    void Close();

private:
    std::intptr_t m_handle = -1;
    std::uint64_t m_size = 0;
};

}  // namespace orvantis
