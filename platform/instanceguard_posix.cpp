// The single-instance guard on Linux: an advisory lock on the file
// "~/MyApp-<user>". The system drops the lock when the process ends, even
// by a crash, so a file left behind is simply unlocked: it never stops a
// start, whatever it holds. A home folder that cannot take the file sends
// the lock to the user's runtime folder instead.

#include "platform/InstanceGuard.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvantis {

namespace {

// The folders tried in turn for the lock file: the home folder, then the
// per-user runtime folder.
std::vector<std::string> LockFileFolders(const std::string& home, const std::string& runtimeDir)
{
    std::vector<std::string> folders;
    for (const std::string& folder : {home, runtimeDir}) {
        if (!folder.empty() && (folders.empty() || folders.front() != folder))
            folders.push_back(folder);
    }
    return folders;
}

class FileLockGuard : public InstanceGuard {
public:
    explicit FileLockGuard(const std::string& name)
    {
        const char* home = std::getenv("HOME");
        std::string homeDir = home ? home : "";
        if (homeDir.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid()))
                homeDir = pw->pw_dir ? pw->pw_dir : "";
        }
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        for (const std::string& folder : LockFileFolders(homeDir, runtime ? runtime : "")) {
            const std::string path = folder + "/" + name;
            // Written when possible (the process id goes in, for people who
            // look); a file that can only be read can still be locked.
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
            const bool writable = fd >= 0;
            if (fd < 0)
                fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
            if (fd < 0)
                continue;
            struct stat st;
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                ::close(fd);
                continue;
            }
            int locked;
            do {
                locked = ::flock(fd, LOCK_EX | LOCK_NB);
            } while (locked != 0 && errno == EINTR);
            if (locked != 0) {
                const bool held = errno == EWOULDBLOCK;
                ::close(fd);
                if (held) {
                    m_another = true;
                    return;
                }
                continue;  // a file system without locks: try the next folder
            }
            m_fd = fd;
            if (writable && ::ftruncate(fd, 0) == 0) {
                const std::string pid = std::to_string(::getpid()) + "\n";
                if (::write(fd, pid.data(), pid.size()) < 0) {
                    // Only for people who look; the lock is what counts.
                }
            }
            return;
        }
        // No folder could hold the lock: start as the only copy.
    }
    ~FileLockGuard() override
    {
        if (m_fd >= 0)
            ::close(m_fd);  // drops the lock; the file stays for the next start
    }
    bool AnotherIsRunning() const override { return m_another; }

private:
    int m_fd = -1;
    bool m_another = false;
};

}  // namespace

std::unique_ptr<InstanceGuard> TakeInstanceGuard(const wxString& name)
{
    return std::make_unique<FileLockGuard>(std::string(name.fn_str()));
}

}  // namespace orvantis
