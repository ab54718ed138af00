// One line of output: the text (given in up to three pieces), a line feed,
// one write and one flush.
// Every line that cranetalk writes (messages, listing, stimulus, the
// initialiser list, the program length) goes through writeLine, so each line
// is flushed as soon as it ends.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace cranetalk {

inline void writeLine(std::ostream& os, std::string_view a, std::string_view b = {},
                      std::string_view c = {}) {
    const std::size_t size = a.size() + b.size() + c.size() + 1;
    if (size <= 65536) {
        std::string line;
        line.reserve(size);
        line.append(a).append(b).append(c).push_back('\n');
        os.write(line.data(), static_cast<std::streamsize>(line.size()));
    } else {
        // A line with a huge token: no copy of the token, same bytes.
        os.write(a.data(), static_cast<std::streamsize>(a.size()));
        os.write(b.data(), static_cast<std::streamsize>(b.size()));
        os.write(c.data(), static_cast<std::streamsize>(c.size()));
        os.put('\n');
    }
    os.flush();
}

// The same for a line that is already complete (ends in a line feed).
inline void writeLineRaw(std::ostream& os, std::string_view lineWithNewline) {
    os.write(lineWithNewline.data(), static_cast<std::streamsize>(lineWithNewline.size()));
    os.flush();
}

}  // namespace cranetalk
