// SPDX-License-Identifier: Apache-2.0
// What the tool says about elements, all of it asked of the library's
// element catalogue rather than of the elements' classes.
#ifndef LUMIVEX_TOOLS_ELEMENTS_H
#define LUMIVEX_TOOLS_ELEMENTS_H

#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

// The kind of an element as the catalogue names it ("Slab", "Lens",
// "GrinRod", ...).
std::string elementKind(const TElement& element);
// Its parameters in a short line, "n=1.5 R=-10 k=-2.25".
std::string elementParameters(const TElement& element);
// The values of an element as the library holds them, in record order, and
// what they imply: "z=5 n=1.5 ...  (f 20, ...)".
std::string recordValues(const TElement& element);
// The description keywords, "Slab, Lens, GrinRod".
std::string keywordList();
// Things a reader accepts that are probably not what the author meant.
std::vector<std::string> remarks(const TOpticalSystem& system);

}  // namespace lumivex::cli

#endif
