// SPDX-License-Identifier: Apache-2.0
// Decoding the text encodings that glass catalogues and lens files arrive in.
#include "glass/text.h"

#include <charconv>
#include <istream>
#include <iterator>
#include <sstream>

#include "lumivex/numeric.h"

namespace lumivex {
namespace detail {

namespace {

void appendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string fromUtf16(const std::string& bytes, bool bigEndian, const std::string& source) {
    if (bytes.size() % 2 != 0)
        throw xmsg(source + ": UTF-16 text with an odd number of bytes (cut short?)");
    auto unit = [&](std::size_t i) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {  // after the byte-order mark
        unsigned long cp = static_cast<unsigned long>(unit(i));
        if (cp >= 0xD800 && cp < 0xDC00) {
            if (i + 3 >= bytes.size() || unit(i + 2) < 0xDC00 || unit(i + 2) >= 0xE000)
                throw xmsg(source + ": UTF-16 text with an unpaired surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<unsigned long>(unit(i + 2)) - 0xDC00);
            i += 2;
        } else if (cp >= 0xDC00 && cp < 0xE000) {
            throw xmsg(source + ": UTF-16 text with an unpaired surrogate");
        }
        appendUtf8(out, cp);
    }
    return out;
}

bool isValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int follow;
        unsigned long cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            follow = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            follow = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            follow = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(follow) >= s.size()) return false;
        for (int k = 1; k <= follow; ++k) {
            const auto d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8; such bytes are Latin-1.
        static const unsigned long kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[follow] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        i += static_cast<std::size_t>(follow) + 1;
    }
    return true;
}

std::string decodeBytes(const std::string& bytes, const std::string& source) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) return fromUtf16(bytes, false, source);
        if (b0 == 0xFE && b1 == 0xFF) return fromUtf16(bytes, true, source);
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    if (isValidUtf8(bytes)) return bytes;
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

}  // namespace

std::string decodeText(const std::string& bytes, const std::string& source) {
    const std::string decoded = decodeBytes(bytes, source);
    const std::size_t nul = decoded.find('\0');
    if (nul != std::string::npos)
        throw xmsg(source + ": the encoding is not recognised (a NUL character at character " +
                   std::to_string(nul) +
                   "): text must be UTF-8, ISO-8859-1, or UTF-16 with a byte-order mark; UTF-16 "
                   "without one, UTF-32 and binary files are not read");
    return decoded;
}

std::string readAll(std::istream& is, const std::string& source) { return readInput(is, source); }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::istringstream is(line);
    return {std::istream_iterator<std::string>(is), std::istream_iterator<std::string>()};
}

std::string upperCase(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool parseNumber(const std::string& field, double& value) {
    // from_chars ignores the host's locale, which may use a decimal comma.
    const char* first = field.data();
    const char* last = first + field.size();
    if (first != last && *first == '+') ++first;
    double v = 0.0;
    const auto result = std::from_chars(first, last, v);
    if (result.ec != std::errc() || result.ptr != last || first == last) return false;
    value = v;
    return true;
}

}  // namespace detail
}  // namespace lumivex
