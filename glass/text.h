// SPDX-License-Identifier: Apache-2.0
// Text files as lens-design programs write them: UTF-8, UTF-16 with a
// byte-order mark, or ISO-8859-1, with CRLF, LF or CR line ends.
#ifndef LUMIVEX_GLASS_TEXT_H
#define LUMIVEX_GLASS_TEXT_H

#include <iosfwd>
#include <string>
#include <vector>

namespace lumivex {
namespace detail {

// The bytes as UTF-8. A byte-order mark decides UTF-16 (LE or BE) or UTF-8;
// without one, bytes that are valid UTF-8 are taken as such and anything else
// as ISO-8859-1. The mark itself is dropped. Throws xmsg naming `source` for
// UTF-16 with an odd byte count or an unpaired surrogate, and for text that
// holds a NUL character: UTF-16 without its mark, UTF-32 or binary data, none
// of which is a lens file or a catalogue.
std::string decodeText(const std::string& bytes, const std::string& source);

// Every byte of the stream, at most kMaxInputBytes (an xmsg naming `source`
// beyond).
std::string readAll(std::istream& is, const std::string& source = "the text");

// The lines of UTF-8 text, split at CRLF, LF or CR, without their ends.
std::vector<std::string> splitLines(const std::string& text);

// Whitespace-separated fields of a line.
std::vector<std::string> splitFields(const std::string& line);

// ASCII upper case; other bytes unchanged.
std::string upperCase(std::string s);

// The whole field as a decimal number (an optional sign, digits, exponent),
// read the same whatever the host's locale; false if it is not one.
bool parseNumber(const std::string& field, double& value);

}  // namespace detail
}  // namespace lumivex

#endif
