#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace orvantis {

namespace {

// Writes all of `bytes` to `fd`.
bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string UniqueEnding()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string ending = ".part-";
    for (int i = 0; i < 10; ++i)
        ending += kLetters[random() % (sizeof kLetters - 1)];
    return ending;
}

}  // namespace

NewFileResult WriteNewFileBeside(const wxString& target, const std::string& bytes, wxString& written)
{
    const std::string base(target.fn_str());
    if (base.empty())
        return NewFileResult::NotCreated;
    std::string name;
    int fd = -1;
    // O_EXCL fails on any existing name, a link included; O_NOFOLLOW says
    // the same for systems that would look at the link's target first.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        name = base + UniqueEnding();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST && errno != EINTR)
            break;
    }
    if (fd < 0)
        return NewFileResult::NotCreated;
    const bool wrote = WriteAll(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (!wrote || !closed) {
        ::unlink(name.c_str());
        return NewFileResult::NotWritten;
    }
    written = wxString(name.c_str(), *wxConvFileName);
    return NewFileResult::Written;
}

bool ReplaceFileWith(const wxString& from, const wxString& to)
{
    return std::rename(from.fn_str(), to.fn_str()) == 0;
}

bool OverwriteFileInPlace(const wxString& path, const std::string& bytes)
{
    const std::string name(path.fn_str());
    if (name.empty())
        return false;
    // Neither created nor truncated before it is known to be a plain file
    // of one name: a link or a second name could lead anywhere.
    const int fd = ::open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && ::ftruncate(fd, 0) == 0 &&
              WriteAll(fd, bytes);
    ok = ::close(fd) == 0 && ok;
    return ok;
}

void RemoveFileQuietly(const wxString& path)
{
    ::unlink(path.fn_str());
}

}  // namespace orvantis
