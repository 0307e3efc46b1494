// SPDX-License-Identifier: Apache-2.0
// Inputs the fuzz targets found, kept as tests: each once made the library
// crash, hang, end the process or write a NaN without an xmsg.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "lumivex/analysis.h"
#include "lumivex/description.h"
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

    // Found by fuzzing: that ray then met a slab of index −1 in front of air
    // at normal incidence, where 4m/(m + 1)² divides by 0; 0 × ∞ was a NaN
    // intensity. A medium of negative index is now refused when it is made.
    EXPECT_THROW(TSlab(4.0, complex(-1.0, 0.0)), xmsg);
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

namespace {

template <class F>
std::string refusal(F&& f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

const double kNaN = std::nan("");
const double kInf = HUGE_VAL;

}  // namespace

TEST(Hardening, ElementsRefuseNonFiniteValuesAndMediaOfNegativeIndex) {
    // A NaN position was traced to an "ok" ray with NaN position and phase;
    // a slab of index −1.5 gave an intensity of 576 and a rod of n0 −1.6
    // one of −16.9, both reported as success.
    EXPECT_EQ(refusal([] { TSlab(kNaN, 1.5); }), "TElement: the z position nan is not a finite number");
    EXPECT_EQ(refusal([] { TSlab(0.0, complex(-1.5, 0.0)); }),
              "TSurface: the refractive index -1.5 is negative; the transmittance holds only for "
              "media of positive index");
    EXPECT_EQ(refusal([] { TSlab(0.0, complex(1.5, kNaN)); }),
              "TSurface: the refractive index (1.5,nan) is not a finite number");
    EXPECT_EQ(refusal([] { TGrinRod(10.0, -1.6, 0.1, 0.0, 0.0); }),
              "TGRIN: the index on the axis n0 -1.6 is negative; the transmittance holds only for "
              "media of positive index");
    EXPECT_EQ(refusal([] { TGrinRod(10.0, 1.6, kInf, 0.0, 0.0); }),
              "TGRIN: the gradient constant g inf is not a finite number");
    EXPECT_EQ(refusal([] { TGeneralLens(0.0, 1.5, 0.0, kInf, 0.0); }),
              "TGeneralLens: the curvature radius inf is not a finite number");
    EXPECT_EQ(refusal([] { TGeneralLens(0.0, 1.5, 0.0, 10.0, kNaN); }),
              "TGeneralLens: the conic constant is not a number (nan)");
    EXPECT_EQ(refusal([] { TEvenAsphere(0.0, 1.5, 0.0, 10.0, 0.0, {0.0, kNaN}); }),
              "TEvenAsphere: a coefficient nan is not a finite number");
    EXPECT_EQ(refusal([] { TSphericalLens(0.0, 1.5, kNaN, 10.0); }),
              "TFunctionalSurface: the height modulus nan is not a finite number");
    EXPECT_EQ(refusal([] { TOpticalSystem system(kNaN); }),
              "TOpticalSystem: the default radius nan is not a finite number");
    // What stays: an absorbing index, index 1, index 0 (a record cut short
    // leaves it), and the conic a Lens of second index 0 derives.
    EXPECT_EQ(refusal([] { TSlab(0.0, complex(1.5, 0.01)); }), "(no xmsg)");
    EXPECT_EQ(refusal([] { TSlab(0.0, 1.0); }), "(no xmsg)");
    EXPECT_EQ(refusal([] { TSlab(0.0, 0.0); }), "(no xmsg)");
    EXPECT_TRUE(std::isinf(TLens(0.0, 1.5, 0.0, 0.0, 10.0).conicConstant));

    // A conic that ends inside a sampled grid names the element.
    EXPECT_EQ(refusal([] { TMatrixLens(0.0, 1.5, 1.0, 0.0, 0.0, 5, 5, 1.0, 1.0); }),
              "TMatrixLens: the conic of curvature radius 1 and conic constant 0 has no height at x "
              "= -2, y = -2 of the grid; its edge lies inside the 5 x 5 samples");
}

TEST(Hardening, TheReaderRefusesMediaOfIndexZeroOrLessAndQuotesWordsItCanShow) {
    auto read = [](const std::string& text) {
        TOpticalSystem system(1.0);
        std::istringstream is(text);
        TReadReport report;
        readDescription(is, system, &report);
        return report;
    };
    const struct {
        std::string text;
        int line;
        std::string word;
    } cases[] = {
        {"OpticalSystem 6\nSlab 0 1\nSlab 5 -1.5\n", 3, "-1.5"},
        {"OpticalSystem 6\nSlab 0 (0,1)\n", 2, "(0,1)"},
        {"OpticalSystem 6\nSlab 0 0 Slab 4 1\n", 2, "0"},
        {"OpticalSystem 6\nGrinRod 5 -1.6 0.1 0 0\n", 2, "-1.6"},
        // An index left open at the end of its line was named as "".
        {"OpticalSystem 6\nSlab 0 (1.5,0.01\n", 2, "(1.5,0.01"},
        // A word of a megabyte is cut as the tool cuts its options.
        {"OpticalSystem 6\nSlab " + std::string(1000000, '1') + "x 1.5\n", 2,
         std::string(36, '1') + "..."},
        // No keyword is that long; /dev/zero is one endless word.
        {"OpticalSystem 6\nSlab 0 1\n" + std::string(5000, 'k'), 3, std::string(36, 'k') + "..."},
    };
    for (const auto& c : cases) {
        const TReadReport report = read(c.text);
        ASSERT_TRUE(report.stopped) << c.text.substr(0, 60);
        EXPECT_EQ(report.line, c.line) << c.text.substr(0, 60);
        EXPECT_EQ(report.word, c.word) << c.text.substr(0, 60);
    }
    EXPECT_EQ(describeStop(read(cases[0].text)),
              "reading stopped at word \"-1.5\", which is not the refractive index of the Slab "
              "record (a number with a positive real part)");
    // Without a report the stream fails there, as at any word that is not
    // a value.
    TOpticalSystem system(1.0);
    std::istringstream is(cases[0].text);
    is >> system;
    EXPECT_TRUE(is.fail());
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system[1]->getRefIndex(TVector(), 0.0), complex(0.0, 0.0));
    TOpticalSystem zeros(1.0);
    zeros.open("/dev/zero");
    EXPECT_EQ(zeros.getSize(), 0);
    // An absorbing medium of positive index reads.
    EXPECT_FALSE(read("OpticalSystem 6\nSlab 0 (1.5,0.01)\n").stopped);
}

TEST(Hardening, ConversionsAndSpotsRefuseWhatHasNoFiniteAnswer) {
    // dx = inf gave beams with NaN positions.
    TMatrix field(8, 1);
    for (int c = 0; c < 8; ++c) field.at(c, 0) = complex(1.0, 0.0);
    TBeamFan fan;
    EXPECT_EQ(refusal([&] { fieldToBeamFan(field, kInf, 0.1, 4, 1, 5e-4, fan); }),
              "fieldToBeamFan: the sample spacing must be finite, not dx inf and dy 0.1");
    EXPECT_EQ(fan.getSize(), 0);

    // A spot in a plane 1e300 away was reported with radii of inf.
    TOpticalSystem system(5.0);
    system.addElement(new TSlab(0.0, 1.0));
    system.addElement(new TLens(5.0, 1.5, 0.0, 1.0, 100.0));
    TCollimatedBeam beam;
    beam.wavelength = 5e-4;
    beam = resolveFilledBeam(system, beam);
    const std::vector<TPupilPoint> pupil = hexapolar(beam.pupilRadius, 3);
    EXPECT_EQ(refusal([&] { spotDiagrams(system, beam, {0.0}, pupil, 1e300, TTraceOptions()); }),
              "the spot at z = 1e+300 has no finite size: the rays are spread too far (is the "
              "image plane that far away?)");
    EXPECT_EQ(refusal([&] { spotDiagrams(system, beam, {0.0}, pupil, 200.0, TTraceOptions()); }),
              "(no xmsg)");
}
