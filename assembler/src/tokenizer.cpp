#include "cranetalk/tokenizer.h"

#include <locale>
#include <streambuf>

namespace cranetalk {

Tokenizer::Tokenizer(std::istream& in) : in_(in) {
    // The number extraction must not depend on a global locale (grouping,
    // other whitespace classes).
    in_.imbue(std::locale::classic());
}

bool Tokenizer::readToken() {
    using Traits = std::istream::traits_type;
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
    Traits::int_type c = sb->sgetc();
    while (!Traits::eq_int_type(c, Traits::eof()) &&
           isSourceWhitespace(static_cast<unsigned char>(Traits::to_char_type(c)))) {
        c = sb->snextc();
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
        c = sb->snextc();
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
