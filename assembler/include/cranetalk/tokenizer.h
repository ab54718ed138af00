// The tokenizer of the cranetalk source language.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <utility>

namespace cranetalk {

// Whitespace: space, horizontal tab, line feed, vertical tab, form feed,
// carriage return.  Every other byte (also NUL and bytes >= 0x80) belongs to
// a token.
constexpr bool isSourceWhitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads tokens from a stream.  The stream's state follows the stream's own
// rules for extraction: a read that finds no token sets failbit (and eofbit);
// a token that ends at the end of the input sets eofbit only.
class Tokenizer {
public:
    explicit Tokenizer(std::istream& in);

    // readToken(): skips whitespace and reads the next token into the token
    // buffer.  Returns false when none could be read (end of input or a
    // stream error); the buffer then keeps the token read last with success.
    bool readToken();

    // The token buffer: the token read last with success, empty before the
    // first successful read.
    const std::string& token() const { return token_; }

    // Moves the token buffer out (when reading is over).
    std::string takeToken() { return std::move(token_); }

    // The operand of "ORG": the stream's unsigned decimal extraction
    // (std::istream >> unsigned int).  Returns false when it fails; the
    // stream is then failed.
    bool readUnsigned(std::uint32_t& value);

    // True once a read has failed (the assembly loop stops then).
    bool failed() const { return in_.fail(); }

private:
    std::istream& in_;
    std::string token_;
};

}  // namespace cranetalk
