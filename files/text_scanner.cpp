#include "files/text_scanner.h"

#include <algorithm>

#include <limits>

bool TextScanner::refill() {
    if (eof_) return false;
    linesBefore_ += size_t(std::count(buf_, buf_ + len_, '\n'));
    // A stream that reports read errors by exception ends here, like any other.
    try {
        in_.read(buf_, sizeof buf_);
        len_ = static_cast<size_t>(in_.gcount());
    } catch (...) {
        len_ = 0;
    }
    pos_ = 0;
    if (len_ == 0) {
        eof_ = true;
        return false;
    }
    return true;
}

void TextScanner::skipSpace() {
    for (int c = peek(); c >= 0 && isSpace(c); c = peek()) advance();
}

bool TextScanner::readWord(std::string& word, size_t maxLength) {
    word.clear();
    if (failed_) return false;
    skipSpace();
    for (int c = peek(); c >= 0 && !isSpace(c); c = peek()) {
        if (word.size() == maxLength) {
            failed_ = true;
            return false;
        }
        word.push_back(char(c));
        advance();
    }
    if (word.empty()) failed_ = true;
    return !failed_;
}

bool TextScanner::readLine(std::string& line, size_t maxLength) {
    line.clear();
    if (failed_) return false;
    int c = peek();
    if (c < 0) {
        failed_ = true;
        return false;
    }
    for (; c >= 0 && c != '\n'; c = peek()) {
        if (line.size() == maxLength) {
            failed_ = true;
            return false;
        }
        line.push_back(char(c));
        advance();
    }
    if (c == '\n') advance();
    return true;
}

bool TextScanner::readMagnitude(bool& negative, uint64_t& magnitude, uint64_t limit) {
    negative = false;
    magnitude = 0;
    if (failed_) return false;
    skipSpace();
    int c = peek();
    if (c == '+' || c == '-') {
        negative = c == '-';
        advance();
        c = peek();
    }
    bool digits = false;
    bool overflow = false;
    while (c >= '0' && c <= '9') {
        digits = true;
        if (!overflow) {
            magnitude = magnitude * 10 + uint64_t(c - '0');
            if (magnitude > limit) overflow = true;
        }
        advance();
        c = peek();
    }
    if (!digits || overflow) {
        failed_ = true;
        return false;
    }
    return true;
}

bool TextScanner::readInt(int32_t& value) {
    bool negative;
    uint64_t m;
    if (!readMagnitude(negative, m, uint64_t(std::numeric_limits<int32_t>::max()) + 1)) return false;
    if (!negative && m > uint64_t(std::numeric_limits<int32_t>::max())) {
        failed_ = true;
        return false;
    }
    value = negative ? int32_t(-int64_t(m)) : int32_t(m);
    return true;
}

bool TextScanner::readUnsigned(uint32_t& value) {
    bool negative;
    uint64_t m;
    if (!readMagnitude(negative, m, std::numeric_limits<uint32_t>::max())) return false;
    value = negative ? uint32_t(0u - uint32_t(m)) : uint32_t(m);
    return true;
}

int32_t TextScanner::leadingInt(const std::string& word) {
    size_t i = 0;
    while (i < word.size() && isSpace((unsigned char)word[i])) ++i;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    // Saturate like the C library's long conversion, then narrow to int.
    int64_t v = 0;
    bool saturated = false;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        if (saturated) continue;
        const int digit = word[i] - '0';
        if (v > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            saturated = true;
            v = negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
        } else {
            v = v * 10 + digit;
        }
    }
    if (negative && !saturated) v = -v;
    return int32_t(uint32_t(uint64_t(v)));
}

size_t TextScanner::line() const { return linesBefore_ + size_t(std::count(buf_, buf_ + pos_, '\n')) + 1; }
