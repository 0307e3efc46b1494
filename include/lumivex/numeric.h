// SPDX-License-Identifier: Apache-2.0
// Numbers, the library's exception and the report of failing math calls.
#ifndef LUMIVEX_NUMERIC_H
#define LUMIVEX_NUMERIC_H

#include <complex>
#include <cstddef>
#include <exception>
#include <iosfwd>
#include <string>

#include "lumivex/export.h"

namespace lumivex {

// Refractive indices and field samples. Stream extraction accepts "1.5",
// "(1.5)" and "(1.5,0.01)".
using complex = std::complex<double>;

// Where in a text something was found: the name of its source (a file's
// path, or what a host calls the text), the line and column counted from 1
// (0: not known) and, in a lens file, the surface number (-1: none).
struct TSourceLocation {
    std::string source;
    int line = 0;
    int column = 0;
    int surface = -1;
};

// The one way a message says where: "source:line:column:", leaving out what
// is not known, then "surface k:" where one applies, as in
// "lens.zmx:28: surface 1:" or "system.txt:5:13:".
LUMIVEX_API std::string locationPrefix(const TSourceLocation& where);

// The one exception type the library throws on purpose. Catch sites that add
// context build a new message (their prefix, then the caught text).
class LUMIVEX_API xmsg : public std::exception {
public:
    explicit xmsg(std::string message);
    // An error at a place in a text: the message is locationPrefix(where),
    // a space and `message`; hosts also get the place itself.
    xmsg(const TSourceLocation& where, const std::string& message);
    const char* what() const noexcept override;
    const std::string& message() const noexcept;
    // Whether the error names a place, and the place.
    bool hasLocation() const noexcept;
    const TSourceLocation& location() const noexcept;

private:
    std::string text;
    bool located = false;
    TSourceLocation where;
};

// What a failing mathematical function reports. type: 1 domain error,
// 2 singularity, 3 overflow, 4 underflow, 5 total and 6 partial loss of
// significance. secondArgument is 0.0 for functions of one argument; retval
// is the value the function returns when the hook accepts the error.
struct TMathErrorRecord {
    int type;
    const char* name;
    double firstArgument;
    double secondArgument;
    double retval;
};

// Turns a failing math call of the library into an xmsg thrown from inside
// that call. Only an underflowing "exp" is accepted: the hook then returns 1
// and the call yields retval. Hosts do not call it; the library's checked
// math functions do.
LUMIVEX_API int mathErrorHook(TMathErrorRecord& record);

// The most a description, a lens file or a glass catalogue may hold: 64 MiB.
// None comes near it, and a device such as /dev/zero or a wrong file given in
// their place would otherwise be read until the memory runs out.
constexpr std::size_t kMaxInputBytes = std::size_t(64) << 20;

// Every byte of the stream; an xmsg naming `source` as soon as it holds more
// than kMaxInputBytes, or when the stream cannot be read.
LUMIVEX_API std::string readInput(std::istream& is, const std::string& source);

}  // namespace lumivex

#endif
