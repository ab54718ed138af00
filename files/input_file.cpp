#include "files/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

const char* describeFileCheck(FileCheck check) {
    switch (check) {
        case FileCheck::Regular: return "is a file";
        case FileCheck::Missing: return "does not exist";
        case FileCheck::NotRegular: return "is not a regular file";
        case FileCheck::Unreadable: return "cannot be read";
    }
    return "cannot be read";
}

namespace {

// Opens without blocking (a FIFO with no writer would otherwise wait
// forever) and keeps the descriptor only for a regular file.
int openRegular(const std::string& path, FileCheck& check) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        struct stat st;
        if (errno == ENOENT || errno == ENOTDIR)
            check = FileCheck::Missing;
        else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            check = FileCheck::NotRegular;
        else
            check = FileCheck::Unreadable;
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        check = FileCheck::NotRegular;
        return -1;
    }
    check = FileCheck::Regular;
    return fd;
}

}  // namespace

FileCheck checkInputFile(const std::string& path) {
    FileCheck check;
    const int fd = openRegular(path, check);
    if (fd >= 0) ::close(fd);
    return check;
}

InputFile::InputFile(const std::string& path) : std::istream(nullptr) {
    buffer_.fd = openRegular(path, check_);
    if (buffer_.fd >= 0) {
        rdbuf(&buffer_);
    } else {
        setstate(std::ios::failbit);
    }
}

InputFile::~InputFile() {
    if (buffer_.fd >= 0) ::close(buffer_.fd);
}

InputFile::Buffer::int_type InputFile::Buffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
        const ssize_t n = ::read(fd, data, sizeof data);
        if (n > 0) {
            setg(data, data, data + n);
            return traits_type::to_int_type(data[0]);
        }
        if (n < 0 && errno == EINTR) continue;
        // The end, or an error: both end the input.
        setg(data, data, data);
        return traits_type::eof();
    }
}

bool outputAllowed(const std::string& path, OutputPolicy policy) {
    if (policy == OutputPolicy::AnyFile) return true;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

int nextByteOrEnd(std::streambuf* buffer) {
    try {
        return buffer->sbumpc();
    } catch (...) {
        return std::char_traits<char>::eof();
    }
}
