// SPDX-License-Identifier: Apache-2.0
// Any bytes as a .zmx lens file: the import refuses what it cannot represent
// with an xmsg, and what it imports is a system of finite values whose
// description reads back to the same text and whose rays keep the physical
// laws.
#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"
#include "lumivex/description.h"
#include "lumivex/lensfile.h"

using namespace lumivex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::istringstream is(std::string(reinterpret_cast<const char*>(bytes), size));
    std::unique_ptr<TLensFile> imported;
    try {
        imported = std::make_unique<TLensFile>(importZmx(is, "fuzz.zmx"));
    } catch (const xmsg&) {
        return 0;
    }
    TLensFile& lens = *imported;
    if (!(lens.wavelength > 0.0) || !std::isfinite(lens.wavelength) ||
        !(lens.wavelengthInLensUnit > 0.0) || !std::isfinite(lens.wavelengthInLensUnit))
        fuzz::fail("an imported lens file has a wavelength that is not a positive number");
    TOpticalSystem& system = lens.system;
    if (!std::isfinite(system.defaultRadius)) fuzz::fail("an imported radius is not finite");
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& e = *system[i];
        const TElementKind* kind = kindOf(e);
        if (!kind) fuzz::fail("the import made an element the catalogue does not know");
        if (!std::isfinite(e.radius)) fuzz::fail("an imported radius is not finite");
        for (const complex& v : kind->recordValues(e))
            if (!std::isfinite(v.real()) || !std::isfinite(v.imag()))
                fuzz::fail("an imported element holds a value that is not finite");
        if (!(e.getRefIndex(TVector(0, 0, e.zPosition), 0.0).real() > 0.0))
            fuzz::fail("an imported medium has an index that is not positive");
    }

    // What the import writes, `lumivex check` must read back.
    std::ostringstream first;
    first.precision(17);
    first << system;
    TOpticalSystem again(1.0);
    std::istringstream in(first.str());
    TReadReport report;
    readDescription(in, again, &report);
    if (report.stopped || again.getSize() != system.getSize())
        fuzz::fail("an imported system's description does not read back");
    std::ostringstream second;
    second.precision(17);
    second << again;
    if (second.str() != first.str()) fuzz::fail("an imported system reads back differently");

    if (system.getSize() > 12) return 0;
    for (double x : {0.0, 0.3, -0.7}) {
        TBeam beam(lens.wavelengthInLensUnit);
        beam.addNode(TBeamNode(TVector(x * system.defaultRadius, 0.1 * x, -1.0), TVector(0, 0, 1),
                               1.0, TVector(0, 1, 0), 0.0));
        try {
            system.traceBeam(beam);
            fuzz::checkNodes(beam, 1);
        } catch (const xmsg&) {
        }
    }
    return 0;
}
