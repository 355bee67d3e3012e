#include "platform/ServedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace orvantis {

bool ServedFile::Open(const wxString& path)
{
    Close();
    const std::string name(path.fn_str());
    if (name.empty())
        return false;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

long ServedFile::Read(void* buffer, std::size_t length)
{
    if (m_handle < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(m_handle), buffer, length);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<long>(n);
    }
}

void ServedFile::Close()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
    m_handle = -1;
    m_size = 0;
}

}  // namespace orvantis
