// SPDX-License-Identifier: Apache-2.0
// Small random fields into fans, traced or not, and small random fans into
// fields: the conversions give finite beams and samples or an xmsg, and never
// end the process.
#include <cmath>
#include <memory>

#include "fuzz/fuzz_common.h"

using namespace lumivex;

namespace {

void checkField(const TMatrix& field) {
    for (std::size_t i = 0; i < field.size(); ++i)
        if (std::isnan(field.data[i].real()) || std::isnan(field.data[i].imag()))
            fuzz::fail("a NaN in a field sample without an xmsg");
}

// A fan of 0 … 12 beams of one to three nodes, their last nodes anywhere
// near the axis, in the order given or sorted by x.
void randomFan(FuzzedDataProvider& data, TBeamFan& fan) {
    const int beams = data.ConsumeIntegralInRange(0, 12);
    const bool ascending = data.ConsumeBool();
    double x = fuzz::number(data, -5.0, 0.0);
    for (int b = 0; b < beams; ++b) {
        auto beam = std::make_unique<TBeam>(6.328e-7);
        const int nodes = data.ConsumeIntegralInRange(1, 3);
        for (int n = 0; n < nodes; ++n) {
            x = ascending ? x + fuzz::number(data, 0.0, 1.0) : fuzz::number(data, -5.0, 5.0);
            const TVector position(x, fuzz::number(data, -1.0, 1.0), fuzz::number(data, 0, 10));
            beam->addNode(TBeamNode(position, TVector(0, 0, 1), fuzz::number(data, 0.0, 2.0),
                                    TVector(1, 0, 0), fuzz::number(data, -1e3, 1e3)));
        }
        fan.addBeam(beam.get());
        beam.release();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int columns = data.ConsumeIntegralInRange(0, 12);
    const int rows = data.ConsumeIntegralInRange(0, 4);
    TMatrix field(columns, rows);
    for (std::size_t i = 0; i < field.size(); ++i)
        field.data[i] = data.ConsumeBool()
                            ? complex(0.0, 0.0)
                            : complex(fuzz::number(data, -3.0, 3.0), fuzz::number(data, -3.0, 3.0));
    const double dx = fuzz::number(data, -0.5, 1.0);
    const double dy = fuzz::number(data, -0.5, 1.0);
    const int nx = data.ConsumeIntegralInRange(-2, 24);
    const int ny = data.ConsumeIntegralInRange(-2, 4);
    const double wavelength = fuzz::number(data, 0.0, 0.1);

    TBeamFan fan;
    bool converted = true;
    try {
        fieldToBeamFan(field, dx, dy, nx, ny, wavelength, fan);
    } catch (const xmsg&) {
        converted = false;
    }
    if (converted)
        for (int b = 0; b < fan.getSize(); ++b) fuzz::checkNodes(*fan[b], 0);

    if (data.ConsumeBool()) {
        // Through a plate or a lens and back.
        TOpticalSystem system(10.0);
        bool isRod = false;
        if (auto element = fuzz::element(data, fuzz::number(data, 0.0, 5.0), isRod);
            element && !isRod) {
            system.addElement(element.get());
            element.release();
        }
        system.addElement(new TSlab(fuzz::number(data, 5.0, 20.0), complex(1.0, 0.0)));
        try {
            system.traceBeamFan(fan);
        } catch (const xmsg&) {
        }
    } else if (data.ConsumeBool()) {
        TBeamFan other;
        randomFan(data, other);
        std::swap(fan, other);
    }

    const int outColumns = data.ConsumeIntegralInRange(0, 40);
    const int outRows = data.ConsumeIntegralInRange(0, 2);
    TMatrix out(outColumns, outRows);
    const double outDx = fuzz::number(data, -0.5, 1.0);
    // Widths next to 0 ask for density grids up to the library's limit of
    // ten million points; a few of them are enough.
    double fanWidth = fuzz::number(data, 0.01, 20.0);
    switch (data.ConsumeIntegralInRange(0, 15)) {
        case 0:
            fanWidth = 0.0;
            break;
        case 1:
            fanWidth = -fanWidth;
            break;
        case 2:
            fanWidth *= 1e-6;
            break;
        default:
            break;
    }
    try {
        beamFanToField(fan, outDx, dy, fanWidth, 0.0, data.ConsumeBool() ? &out : nullptr);
        checkField(out);
    } catch (const xmsg&) {
    }
    return 0;
}
