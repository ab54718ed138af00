// Word and number reading with the semantics of a C++ text stream, but over a
// private buffer so that large files read at memory speed.
//
// Two conversions exist and files rely on the difference:
//  * readInt / readUnsigned behave like stream extraction: skip white space,
//    optional sign, digits; anything else (or overflow) fails the scanner for
//    good, and the characters after the number stay in the input ("12ab"
//    yields 12 and leaves "ab").
//  * leadingInt converts a word already read: optional sign and digits at its
//    start, 0 when there are none; it never fails.
// A word is at most kMaxWord characters (or the longer bound a reader asks
// for); a longer one fails the scanner without consuming anything past it,
// so no input can make us buffer more.
#pragma once
#include <cstdint>
#include <istream>
#include <string>

class TextScanner {
public:
    static constexpr size_t kMaxWord = 127;

    explicit TextScanner(std::istream& in) : in_(in) {}
    bool failed() const { return failed_; }
    // True once the input is exhausted (a following read will fail).
    bool atEnd() {
        skipSpace();
        return peek() < 0;
    }

    bool readWord(std::string& word, size_t maxLength = kMaxWord);
    bool readInt(int32_t& value);
    bool readUnsigned(uint32_t& value);
    // Reads the rest of the current line (without the line break); false at
    // the end of input. Lines longer than maxLength fail the scanner.
    bool readLine(std::string& line, size_t maxLength = 4096);

    // The line (from 1) of the next character to be read.
    size_t line() const;

    static int32_t leadingInt(const std::string& word);
    static bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

private:
    int peek() {
        if (pos_ == len_ && !refill()) return -1;
        return static_cast<unsigned char>(buf_[pos_]);
    }
    void advance() { ++pos_; }
    bool refill();
    void skipSpace();
    // Reads sign and digits; false (and the scanner failed) without digits or
    // when the magnitude exceeds limit.
    bool readMagnitude(bool& negative, uint64_t& magnitude, uint64_t limit);

    std::istream& in_;
    char buf_[1 << 16];
    size_t pos_ = 0, len_ = 0;
    size_t linesBefore_ = 0;  // line breaks in the buffers already used up
    bool eof_ = false;
    bool failed_ = false;
};
