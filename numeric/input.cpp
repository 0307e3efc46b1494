// SPDX-License-Identifier: Apache-2.0
// Reading a whole text with a bound on its size.
#include <istream>
#include <string>

#include "lumivex/numeric.h"

namespace lumivex {

std::string readInput(std::istream& is, const std::string& source) {
    std::string text;
    char chunk[65536];
    while (is) {
        is.read(chunk, sizeof chunk);
        const std::streamsize got = is.gcount();
        if (got <= 0) break;
        if (text.size() + static_cast<std::size_t>(got) > kMaxInputBytes)
            throw xmsg(source + ": more than " + std::to_string(kMaxInputBytes >> 20) +
                       " MiB; no description, lens file or glass catalogue is that large");
        text.append(chunk, static_cast<std::size_t>(got));
    }
    if (is.bad()) throw xmsg(source + ": the text cannot be read");
    return text;
}

}  // namespace lumivex
