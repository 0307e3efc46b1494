// Inputs the fuzz targets found, kept as tests: each once made the library
// crash, hang, end the process or write a NaN without an xmsg.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

bool finite(const TBeamNode& n) {
    const double v[] = {n.position.x,     n.position.y, n.position.z,     n.kVector.x,
                        n.kVector.y,      n.kVector.z,  n.polarization.x, n.polarization.y,
                        n.polarization.z, n.intensity,  n.opticalPath};
    for (double x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

// Traces the beam; returns the failure text, or "" after checking that every
// node is finite.
std::string trace(TOpticalSystem& system, TBeam& beam) {
    try {
        system.traceBeam(beam);
    } catch (const xmsg& e) {
        return e.message();
    }
    for (int i = 0; i < beam.getSize(); ++i) EXPECT_TRUE(finite(beam[i])) << beam[i];
    return "";
}

}  // namespace

TEST(Hardening, SlabRecordCutShortLeavesIndexZeroAndNormalIncidenceFails) {
    // "forty" is no number: the slab keeps the index 0 of the reader's scratch
    // element. At normal incidence the transmittance 4m/(m + 1)² with m =
    // n2/0 was NaN; it is now the surface's failure.
    TOpticalSystem system(10.0);
    std::istringstream text("OpticalSystem 10\nSlab\t0\tforty behind its vertex\n");
    text >> system;
    ASSERT_EQ(system.getSize(), 1);
    TBeam beam(5e-4);
    beam.addNode(TBeamNode(TVector(0, 0, -1), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    const std::string message = trace(system, beam);
    EXPECT_EQ(message.rfind("TOpticalSystem::traceBeam: \nCould not compute new k-Vector!\n", 0),
              0u)
        << message;
    EXPECT_EQ(beam.getSize(), 2);
    EXPECT_EQ(beam.getLast().intensity, 0.0);

    // Off the normal the formulas hold: every ray turns along the normal and
    // nothing is transmitted.
    TBeam oblique(5e-4);
    oblique.addNode(TBeamNode(TVector(0, 0, -1), TVector(0.6, 0, 0.8), 1.0, TVector(0, 1, 0), 0.0));
    EXPECT_EQ(trace(system, oblique), "");
    EXPECT_EQ(oblique.getLast().kVector, TVector(0, 0, 1));
    EXPECT_EQ(oblique.getLast().intensity, 0.0);

    // Found by fuzzing: that ray then meets a slab of index −1 in front of
    // air at normal incidence, where 4m/(m + 1)² divides by 0; 0 × ∞ was a
    // NaN intensity. It is a failure too.
    system.addElement(new TSlab(4.0, complex(-1.0, 0.0)));
    TBeam across(5e-4);
    across.addNode(TBeamNode(TVector(0, 0, -1), TVector(0.6, 0, 0.8), 1.0, TVector(0, 1, 0), 0.0));
    EXPECT_NE(trace(system, across), "");
    for (int i = 0; i < across.getSize(); ++i) EXPECT_FALSE(std::isnan(across[i].intensity));
}

TEST(Hardening, FieldWithZeroSpacingGivesNoNaNDirections) {
    // With dx = 0 the tilt λ·Δφ/(2π·dx) was 0/0 or infinite, and the beams
    // left with NaN directions.
    TMatrix field(8, 2);
    field.at(0, 0) = complex(-0.3182, -1.0);
    TBeamFan fan;
    try {
        fieldToBeamFan(field, 0.0, -0.28832, 6, 3, 3.6e-14, fan);
        FAIL() << "no xmsg";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(),
                  "fieldToBeamFan: no beam direction for the phase gradient at sample (0, 0) "
                  "with dx 0 and dy -0.28832");
    }
    EXPECT_EQ(fan.getSize(), 0);

    // A field of one row has no tilt along y, so dy = 0 is harmless there.
    TMatrix row(5, 1);
    for (int c = 0; c < 5; ++c) row.at(c, 0) = complex(std::cos(0.5 * c), std::sin(0.5 * c));
    TBeamFan rowFan;
    fieldToBeamFan(row, 0.1, 0.0, 4, 1, 5e-4, rowFan);
    ASSERT_EQ(rowFan.getSize(), 4);
    for (int b = 0; b < 4; ++b) {
        const TBeamNode n = (*rowFan[b])[0];
        EXPECT_TRUE(finite(n)) << n;
        EXPECT_EQ(n.kVector.y, 0.0);
        EXPECT_NEAR(n.kVector.x / n.kVector.z, 5e-4 * 0.5 / (2 * 3.141592653589793 * 0.1), 1e-15);
    }
}

TEST(Hardening, IndicesFarApartLeaveNoRefractedDirectionAndFail) {
    // An index of 1.9e20 in front: r·k − g·N cancels to the zero vector, the
    // node got the direction (0, 0, 0) and, from cos(θ1 − θ2) = 0, a NaN
    // intensity. No direction is a failure to compute one.
    TOpticalSystem system(1.0);
    std::istringstream text("OpticalSystem 2\nSlab\t1\t188888888888888888881   then1\n");
    text >> system;
    ASSERT_EQ(system.getSize(), 1);
    TBeam beam(5e-4);
    beam.addNode(TBeamNode(TVector(0.5, -0.3, -25), TVector(0, 0, 1), 1.0, TVector(0, 1, 0), 0.0));
    EXPECT_EQ(trace(system, beam),
              "TOpticalSystem::traceBeam: \nCould not compute new k-Vector!\n"
              "((0,0,1),(0,0,0),(0,0,1))\n0,1,0\n");
    EXPECT_EQ(beam.getLast().kVector, TVector(0, 0, 0));
    EXPECT_EQ(beam.getLast().intensity, 0.0);
}

TEST(Hardening, DensityGridOfAFanSpreadFarBeyondItsWidthIsRefused) {
    // Two beams ending 10 apart from a start only 1.5e-6 wide ask for a
    // density grid of 2e7 points; fans like it asked for hundreds of millions
    // (gigabytes), enough to end the process. Ten million is the limit.
    TBeamFan fan;
    for (double x : {-5.0, 5.0}) {
        auto* beam = new TBeam(6.328e-7);
        beam->addNode(TBeamNode(TVector(x, 0, 10), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
        fan.addBeam(beam);
    }
    TMatrix field(16, 1);
    try {
        beamFanToField(fan, 0.5, 0.5, 1.5e-6, 0.0, &field);
        FAIL() << "no xmsg";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(),
                  "beamFanToField: the density grid would need 2e+07 points, more than 1e+07; is "
                  "fanWidth too small?");
    }
    // A start as wide as the end is drawn.
    beamFanToField(fan, 0.5, 0.5, 10.0, 0.0, &field);
    EXPECT_GT(std::abs(field.at(8, 0)), 0.0);
}

TEST(Hardening, SizesBeyondTheHeapGiveAnXmsgNamingTheOperationAndTheSize) {
    // A million by a million samples: 16 TB, more than any heap holds.
    const int huge = 1000000;
    auto message = [](auto&& make) -> std::string {
        try {
            make();
        } catch (const xmsg& e) {
            return e.message();
        } catch (const std::exception& e) {
            return std::string("not an xmsg: ") + e.what();
        }
        return "no failure";
    };
    EXPECT_EQ(message([&] { TMatrix table(huge, huge); }),
              "TMatrix: no memory for a table of 1000000 x 1000000 samples");
    EXPECT_EQ(message([&] { TMatrixLens lens(0.0, 1.5, 50.0, 0.0, 0.0, huge, huge, 0.1, 0.1); }),
              "TMatrixLens: no memory for a table of 1000000 x 1000000 samples");
    // A host's field whose size says 10^12 samples: the conversion's working
    // table of that size cannot be had.
    TMatrix field(2, 2);
    field.columns = field.rows = huge;
    TBeamFan fan;
    EXPECT_EQ(message([&] { fieldToBeamFan(field, 1.0, 1.0, 2, 2, 5e-4, fan); }),
              "fieldToBeamFan: no memory for a working table of 1000000 x 1000000 samples");
    field.columns = field.rows = 2;
    EXPECT_EQ(fan.getSize(), 0);
}
