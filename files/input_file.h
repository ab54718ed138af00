// Opening the files the simulator reads by name, and checking the files it
// writes.
//
// Every input is untrusted, and a name may point at something that is not a
// file: reading a directory fails inside the stream buffer (which throws),
// and a FIFO or a device would block the reader or never end. InputFile
// opens without blocking, refuses everything but a regular file, and reads
// through its own buffer in which a failed system read is simply the end of
// the input, so the readers above it see nothing but bytes and an end.
//
// Outputs may be FIFOs for the runner (a script may pipe them), but the
// desktop program must never block its window on one: it asks for
// OutputPolicy::RegularOnly, which refuses any existing path that is not a
// regular file before it is opened.
#pragma once

#include <istream>
#include <streambuf>
#include <string>

enum class FileCheck {
    Regular,     // an ordinary file that could be opened
    Missing,     // nothing by that name
    NotRegular,  // a directory, FIFO, device or socket
    Unreadable,  // exists, but the system refuses to open it
};

// Why a path cannot be read, as the end of a sentence ("is a directory").
const char* describeFileCheck(FileCheck check);

// What stands at `path` for reading, without reading anything or blocking.
FileCheck checkInputFile(const std::string& path);

// A regular file open for reading. Reading never throws: a read error ends
// the input.
class InputFile : public std::istream {
public:
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return buffer_.fd >= 0; }
    FileCheck check() const { return check_; }

private:
    struct Buffer : std::streambuf {
        int fd = -1;
        char data[1 << 16];
        int_type underflow() override;
    };
    Buffer buffer_;
    FileCheck check_;
};

enum class OutputPolicy {
    AnyFile,      // FIFOs and devices are written like files
    RegularOnly,  // only a regular file or a new name
};

// True when `path` may be opened for writing under `policy`: always for
// AnyFile; for RegularOnly, when nothing stands there yet or a regular file
// does. Never blocks.
bool outputAllowed(const std::string& path, OutputPolicy policy);

// The next byte of a stream buffer, with a read error taken as the end of
// the input; for readers that work on a caller's stream directly.
int nextByteOrEnd(std::streambuf* buffer);
