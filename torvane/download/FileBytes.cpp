#include "FileBytes.h"

#include "WideText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filebytes {

bool Read(const std::wstring& path, std::string& bytes, int* cause)
{
    bytes.clear();
    auto failed = [&](int e) {
        bytes.clear();
        if (cause) *cause = e;
        return false;
    };
    const int fd = ::open(wtext::ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
        ::close(fd);
        return failed(e);
    }
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            return failed(e);
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (cause) *cause = 0;
    return true;
}

bool Write(const std::wstring& path, const std::string& bytes, int* cause)
{
    const int fd = ::open(wtext::ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (cause) *cause = errno;
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (cause) *cause = errno;
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        if (cause) *cause = errno;
        return false;
    }
    if (cause) *cause = 0;
    return true;
}

}  // namespace filebytes
