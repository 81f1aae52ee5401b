#include "smc/applesmc/QAppleSmcFileAccess.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {
// The kernel's attribute files report a fixed size and cannot be truncated; a copied tree of
// plain files must be, or a shorter number would leave the tail of a longer one behind.
constexpr long kSysfsMagic = 0x62656572;

bool isKernelAttribute(int fd)
{
    struct statfs info;
    return fstatfs(fd, &info) == 0 && static_cast<long>(info.f_type) == kSysfsMagic;
}
} // namespace

const char QAppleSmcPosixFiles::kDriverDir[] = "/sys/devices/platform/applesmc.768";

QAppleSmcPosixFiles::QAppleSmcPosixFiles(const std::string& dir) : m_Dir(dir)
{}

bool QAppleSmcPosixFiles::folderExists(const std::string& dir)
{
    struct stat info;
    return !dir.empty() && stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int QAppleSmcPosixFiles::openFile(const std::string& name, bool bWrite)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return -1;
    const std::string path = m_Dir + "/" + name;
    int fd = bWrite ? ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (!bWrite || (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)))
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

long QAppleSmcPosixFiles::readFile(int handle, char* buffer, size_t nSize)
{
    const ssize_t nRead = ::pread(handle, buffer, nSize, 0);
    if (nRead < 0)
        return -1;
    // A plain file deleted from a copied tree still reads; the driver's files fail instead.
    struct stat info;
    if (fstat(handle, &info) != 0 || info.st_nlink == 0)
        return -1;
    return static_cast<long>(nRead);
}

bool QAppleSmcPosixFiles::writeFile(int handle, const std::string& text)
{
    const ssize_t nWritten = ::pwrite(handle, text.data(), text.size(), 0);
    if (nWritten != static_cast<ssize_t>(text.size()))
        return false;
    if (!isKernelAttribute(handle))
        return ::ftruncate(handle, static_cast<off_t>(text.size())) == 0;
    return true;
}

void QAppleSmcPosixFiles::closeFile(int handle)
{
    if (handle >= 0)
        ::close(handle);
}
