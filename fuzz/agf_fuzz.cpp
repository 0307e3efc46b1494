// SPDX-License-Identifier: Apache-2.0
// Any bytes as an .agf glass catalogue: a malformed catalogue is an xmsg,
// and every glass of one that loads gives a finite positive index or says
// why it cannot.
#include <cmath>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"
#include "glass/text.h"
#include "lumivex/glass.h"

using namespace lumivex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    TGlassCatalog glasses;
    try {
        std::istringstream is(text);
        glasses.loadAgf(is, "FUZZ");
    } catch (const xmsg&) {
        return 0;
    }
    if (glasses.size() == 0) fuzz::fail("a catalogue loaded without a glass");
    // The names, as the catalogue read them.
    const std::vector<std::string> lines = detail::splitLines(detail::decodeText(text, "FUZZ"));
    int named = 0;
    for (const std::string& line : lines) {
        const std::vector<std::string> f = detail::splitFields(line);
        if (f.size() < 2 || f[0] != "NM") continue;
        ++named;
        const TGlass& glass = glasses.find("FUZZ:" + f[1]);
        for (double um : {-1.0, 0.0, 0.35, 0.5875618, 1.0, 2.5, 1e300}) {
            try {
                const double n = glass.index(um);
                if (!(n > 0.0) || !std::isfinite(n)) fuzz::fail("a glass gave an index that is not positive");
                if (!(um > 0.0)) fuzz::fail("a glass gave an index at a wavelength of 0 or less");
                if (glass.sourceFormula != 1 && glass.sourceFormula != 2)
                    fuzz::fail("a glass of an unsupported formula gave an index");
            } catch (const xmsg&) {
            }
        }
    }
    if (named != glasses.size()) fuzz::fail("the catalogue holds a different number of glasses than NM lines");
    return 0;
}
