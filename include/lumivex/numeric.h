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

// The one exception type the library throws on purpose. Catch sites that add
// context build a new message (their prefix, then the caught text).
class LUMIVEX_API xmsg : public std::exception {
public:
    explicit xmsg(std::string message);
    const char* what() const noexcept override;
    const std::string& message() const noexcept;

private:
    std::string text;
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
