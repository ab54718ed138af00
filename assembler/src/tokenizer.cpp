#include "cranetalk/tokenizer.h"

#include <locale>
#include <streambuf>

namespace cranetalk {

namespace {

using Traits = std::istream::traits_type;

// A file stream's buffer throws when the system read fails (standard input
// that is a directory, say); to the assembler that is simply the end of the
// source, so a token cut short by it is still a token.
Traits::int_type currentOrEnd(std::streambuf* sb) {
    try {
        return sb->sgetc();
    } catch (...) {
        return Traits::eof();
    }
}

Traits::int_type nextOrEnd(std::streambuf* sb) {
    try {
        return sb->snextc();
    } catch (...) {
        return Traits::eof();
    }
}

}  // namespace

Tokenizer::Tokenizer(std::istream& in) : in_(in) {
    // The number extraction must not depend on a global locale (grouping,
    // other whitespace classes).
    in_.imbue(std::locale::classic());
}

bool Tokenizer::readToken() {
    if (!in_.good()) {
        // Like the sentry of a formatted extraction: a stream at its end or
        // in error reads nothing.
        in_.setstate(std::ios::failbit);
        return false;
    }
    std::streambuf* sb = in_.rdbuf();
    if (sb == nullptr) {
        in_.setstate(std::ios::badbit | std::ios::failbit);
        return false;
    }
    Traits::int_type c = currentOrEnd(sb);
    while (!Traits::eq_int_type(c, Traits::eof()) &&
           isSourceWhitespace(static_cast<unsigned char>(Traits::to_char_type(c)))) {
        c = nextOrEnd(sb);
    }
    if (Traits::eq_int_type(c, Traits::eof())) {
        in_.setstate(std::ios::eofbit | std::ios::failbit);
        return false;
    }
    token_.clear();
    // No length limit: the token grows until whitespace or the end of input.
    // sgetc/snextc work on the stream buffer's get area and only refill it
    // when it is empty, so this is linear in the input.
    // Bytes are gathered in a small local buffer and appended in chunks.
    char chunk[4096];
    std::size_t n = 0;
    do {
        if (n == sizeof chunk) {
            token_.append(chunk, n);
            n = 0;
        }
        chunk[n++] = Traits::to_char_type(c);
        c = nextOrEnd(sb);
    } while (!Traits::eq_int_type(c, Traits::eof()) &&
             !isSourceWhitespace(static_cast<unsigned char>(Traits::to_char_type(c))));
    token_.append(chunk, n);
    if (Traits::eq_int_type(c, Traits::eof())) in_.setstate(std::ios::eofbit);
    return true;
}

bool Tokenizer::readUnsigned(std::uint32_t& value) {
    unsigned int n = 0;
    if (in_ >> n) {
        value = static_cast<std::uint32_t>(n);
        return true;
    }
    return false;
}

}  // namespace cranetalk
