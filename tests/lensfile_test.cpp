// SPDX-License-Identifier: Apache-2.0
// .zmx lens files: the systems they import to, checked with the optics the
// files describe, and the content the import refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "glass/text.h"
#include "lumivex/lensfile.h"
#include "lumivex/surfaces.h"
#include "lumivex/trace.h"

using namespace lumivex;

namespace {

const std::string kData = LUMIVEX_TEST_DATA_DIR;

std::string fileText(const std::string& name) {
    std::ifstream is(kData + "/" + name, std::ios::binary);
    return detail::readAll(is);
}

TLensFile importText(const std::string& text) {
    std::istringstream is(text);
    return importZmx(is, "test.zmx");
}

std::string refusal(const std::string& text) {
    try {
        importText(text);
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// The last node of a ray parallel to the axis at (x, y), and the node after
// element `after` through `node`.
TBeam traceParallel(TLensFile& lens, double x, double y) {
    TBeam beam(lens.wavelengthInLensUnit);
    beam.addNode(TBeamNode(TVector(x, y, -10.0), TVector(0, 0, 1), 1.0, TVector(0, 1, 0), 0.0));
    lens.system.traceBeam(beam);
    return beam;
}

}  // namespace

TEST(LensFile, SingletFocusesAtTheLensmakersFocalLength) {
    TLensFile lens = importZmx(kData + "/singlet.zmx");
    const double n = TGlassCatalog::builtin().index("N-BK7", 0.5875618, TLengthUnit::micrometre);
    EXPECT_EQ(lens.unit, "MM");
    EXPECT_EQ(lens.wavelength, 0.5875618);
    EXPECT_DOUBLE_EQ(lens.wavelengthInLensUnit, 5.875618e-4);
    EXPECT_EQ(lens.wavelengths.size(), 3u);  // FTYP: three of the four WAVM in use
    EXPECT_EQ(lens.fieldY, (std::vector<double>{0, 5, 10}));
    EXPECT_EQ(lens.entrancePupilDiameter, 10.0);
    EXPECT_EQ(lens.stopSurface, 1);
    ASSERT_EQ(lens.system.getSize(), 3);
    const double z[] = {0.0, 5.0, 52.5};
    const double front[] = {1.0, n, 1.0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lens.system[i]->zPosition, z[i]);
        EXPECT_EQ(lens.system[i]->getRefIndex(TVector(), 0.0).real(), front[i]);
    }
    EXPECT_EQ(lens.system[0]->radius, 6.0);

    // Thick-lens lensmaker's equation, R1 = 50, R2 = −50, d = 5.
    const double R1 = 50, R2 = -50, d = 5;
    const double f = 1.0 / ((n - 1) * (1 / R1 - 1 / R2 + (n - 1) * d / (n * R1 * R2)));
    const double backFocus = d + f * (1 - (n - 1) * d / (n * R1));
    const double h = 1e-3;
    const TBeamNode up = traceParallel(lens, 0, h)[2];
    const TBeamNode down = traceParallel(lens, 0, -h)[2];
    // Where the two rays leaving the lens cross, and the focal length from
    // the angle of the ray at height h.
    const double tUp = up.kVector.y / up.kVector.z, tDown = down.kVector.y / down.kVector.z;
    const double zCross = (down.position.y - up.position.y + tUp * up.position.z -
                           tDown * down.position.z) / (tUp - tDown);
    EXPECT_NEAR(zCross, backFocus, 1e-6 * backFocus);
    EXPECT_NEAR(h / -tUp, f, 1e-6 * f);

    // At the F line the index is N-BK7's nF.
    const TLensFile blue = importZmx(kData + "/singlet.zmx", 0.4861327);
    EXPECT_NEAR(blue.surfaces[1].index, 1.522376, 5e-7);

    // The same wavelength stated in the lens unit (mm): the same index, and
    // the beams' wavelength is the value given, not one converted back.
    const TLensFile blueMm = importZmxInLensUnit(kData + "/singlet.zmx", 4.861327e-4);
    EXPECT_EQ(blueMm.wavelengthInLensUnit, 4.861327e-4);
    EXPECT_NEAR(blueMm.wavelength, 0.4861327, 1e-15);
    EXPECT_NEAR(blueMm.surfaces[1].index, blue.surfaces[1].index, 1e-14);
}

TEST(LensFile, EvenAsphereFocusesFarInsideTheAiryDisc) {
    // A plano-convex lens whose second surface is the hyperboloid that images
    // parallel light from the glass into air without aberration, written as
    // a sphere of radius −25 plus PARM 2 … 8.
    TLensFile lens = importZmx(kData + "/asphere.zmx");
    ASSERT_EQ(lens.system.getSize(), 3);
    ASSERT_NE(dynamic_cast<TEvenAsphere*>(lens.system[1]), nullptr);
    EXPECT_EQ(lens.surfaces[2].asphere.size(), 8u);
    EXPECT_EQ(lens.surfaces[2].asphere[1], 1.8405458757287896e-05);
    const double n = lens.surfaces[1].index;
    const double f = 25.0 / (n - 1);
    const double airy = 1.22 * lens.wavelengthInLensUnit * f / lens.entrancePupilDiameter;
    double spot = 0.0;
    for (int i = -10; i <= 10; ++i)
        for (double angle : {0.0, 0.7, 2.0}) {
            const double r = 0.5 * i;
            const TBeam beam = traceParallel(lens, r * std::cos(angle), r * std::sin(angle));
            const TBeamNode image = beam.getLast();
            EXPECT_NEAR(image.position.z, 4.0 + f, 1e-9);
            spot = std::max(spot, std::hypot(image.position.x, image.position.y));
        }
    EXPECT_LT(spot, 1e-3 * airy) << "Airy radius " << airy;
}

TEST(LensFile, Utf16WithCrlfImportsLikeTheUtf8File) {
    const std::string text = fileText("singlet.zmx");
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        if (c == '\n') utf16 += std::string("\r\0", 2);
        utf16 += c;
        utf16 += '\0';
    }
    const TLensFile a = importText(text);
    const TLensFile b = importText(utf16);
    ASSERT_EQ(a.surfaces.size(), b.surfaces.size());
    for (std::size_t i = 1; i < a.surfaces.size(); ++i) {
        EXPECT_EQ(a.surfaces[i].z, b.surfaces[i].z);
        EXPECT_EQ(a.surfaces[i].curvature, b.surfaces[i].curvature);
        EXPECT_EQ(a.surfaces[i].index, b.surfaces[i].index);
    }
}

TEST(LensFile, TripletPositionsGlassesAndIndices) {
    // ISO-8859-1 text; GCAT puts HIKARI before SCHOTT, so F2 is HIKARI's;
    // LAKN7X is in no catalogue and is taken at the nd its GLAS line gives.
    const TLensFile lens = importZmx(kData + "/triplet.zmx");
    const TGlassCatalog& glasses = TGlassCatalog::builtin();
    const double nSK16 = glasses.index("SCHOTT:N-SK16", 0.5875618, TLengthUnit::micrometre);
    const double nF2 = glasses.index("HIKARI:F2", 0.5875618, TLengthUnit::micrometre);
    ASSERT_EQ(lens.system.getSize(), 7);
    const double z[] = {0, 2, 7.26, 8.51, 13.2, 15.45, 58.45};
    const double front[] = {1, nSK16, 1, nF2, 1, 1.6516, 1};
    for (int i = 0; i < 7; ++i) {
        EXPECT_NEAR(lens.system[i]->zPosition, z[i], 1e-12) << i;
        EXPECT_EQ(lens.system[i]->getRefIndex(TVector(), 0.0).real(), front[i]) << i;
    }
    const auto* conic = dynamic_cast<const TGeneralLens*>(lens.system[5]);
    ASSERT_NE(conic, nullptr);
    EXPECT_DOUBLE_EQ(conic->curvatureRadius, -16.7);
    EXPECT_EQ(conic->conicConstant, -0.5);
    EXPECT_EQ(lens.stopSurface, 3);
    EXPECT_EQ(lens.fieldY, (std::vector<double>{0, 20}));
    ASSERT_EQ(lens.glasses.size(), 3u);
    EXPECT_EQ(lens.glasses[1].catalogue, "HIKARI");
    EXPECT_NE(lens.glasses[2].source.find("nd from the file"), std::string::npos);
    ASSERT_EQ(lens.notes.size(), 1u);
    EXPECT_NE(lens.notes[0].find("LAKN7X"), std::string::npos);
}

TEST(LensFile, RefusesWhatItCannotRepresentNamingSurfaceAndKeyword) {
    const std::string singlet = fileText("singlet.zmx");
    const std::string glass = "GLAS N-BK7 0 0 1.5168 64.17 0 0 0 0 0 0";
    const struct {
        std::string text;
        std::vector<std::string> said;
    } cases[] = {
        {replaced(singlet, glass, "GLAS MIRROR 0 0 1.5 40"), {"surface 1", "GLAS MIRROR"}},
        {replaced(singlet, "CURV -2.0E-2", "TYPE COORDBRK\n  CURV -2.0E-2"),
         {"surface 2", "TYPE COORDBRK"}},
        {replaced(singlet, "  DISZ 47.5", "  CLAP 2 5 0\n  DISZ 47.5"), {"surface 2", "CLAP", "annular"}},
        {replaced(singlet, "DISZ INFINITY", "DISZ -10"), {"surface 0", "DISZ", "in front of the first surface"}},
        {replaced(singlet, "MODE SEQ", "MODE NSC"), {"MODE NSC"}},
        {replaced(singlet, "  DISZ 5\n", "  DISZ 5\n  PARM 2 0.1\n"),
         {"surface 1", "PARM 2", "STANDARD"}},
        {replaced(singlet, glass, "GLAS UNOBTAINIUM"), {"surface 1", "unknown glass"}},
    };
    for (const auto& c : cases) {
        const std::string m = refusal(c.text);
        for (const std::string& s : c.said) EXPECT_NE(m.find(s), std::string::npos) << m;
    }
}

TEST(LensFile, RefusesValuesThatAreNotFiniteOrNotIntegersAndTextThatIsNotALensFile) {
    // Each once imported to a wrong system, or to a description that cannot
    // be read back, or cut a number to an integer through undefined
    // behaviour.
    const std::string singlet = fileText("singlet.zmx");
    const std::string glass = "GLAS N-BK7 0 0 1.5168 64.17 0 0 0 0 0 0";
    const struct {
        std::string text;
        std::vector<std::string> said;
    } cases[] = {
        {replaced(singlet, "CURV 2.0E-2", "CURV inf"), {".zmx:28: surface 1: CURV", "\"inf\""}},
        {replaced(singlet, "CURV -2.0E-2", "CURV -inf"), {"surface 2", "CURV", "\"-inf\""}},
        {replaced(singlet, "CURV 2.0E-2", "CURV 1e-310"), {"surface 1", "CURV 1e-310", "radius"}},
        {replaced(singlet, "  DISZ 5\n", "  DISZ 5\n  CONI inf\n"), {"surface 1", "CONI", "inf"}},
        {replaced(singlet, "DIAM 6 1 0 0 1 \"\"\n  MEMA", "DIAM inf 1\n  MEMA"),
         {"surface 1", "DIAM", "inf"}},
        {replaced(singlet, "ENPD 1.0E+1", "ENPD inf"), {":5: ENPD", "inf"}},
        {replaced(singlet, "  CURV -2.0E-2", "  TYPE EVENASPH\n  PARM 1 inf\n  CURV -2.0E-2"),
         {"surface 2", "PARM", "inf"}},
        {replaced(singlet, glass, "GLAS ODD 1 0 inf 64.17"), {"surface 1", "GLAS ODD", "nd inf"}},
        {replaced(singlet, "SURF 2", "SURF 2.7"), {":33: SURF", "2.7"}},
        {replaced(singlet, "SURF 2", "SURF 1e10"), {"SURF", "1e10"}},
        {replaced(singlet, "PWAV 2", "PWAV 2.5"), {":16: PWAV", "integer", "2.5"}},
        {replaced(singlet, "WAVM 4 5.5E-1", "WAVM 1e300 5.5E-1"), {"WAVM", "integer", "1e300"}},
        {replaced(singlet, "FTYP 0 0 3 3", "FTYP 0.5 0 3 3"), {"FTYP", "integer", "0.5"}},
        {replaced(singlet, "  DISZ 5\n", "  DISZ 5\n  PARM 1e20 0\n"), {"PARM", "integer", "1e20"}},
    };
    for (const auto& c : cases) {
        const std::string m = refusal(c.text);
        for (const std::string& s : c.said) EXPECT_NE(m.find(s), std::string::npos) << m;
    }

    // UTF-16 without its byte-order mark, and UTF-32 with one, are not taken
    // for text that names no wavelength.
    std::string utf16, utf32 = std::string("\xFF\xFE\0\0", 4);
    for (char c : singlet) {
        utf16 += c;
        utf16 += '\0';
        utf32 += c;
        utf32.append(3, '\0');
    }
    for (const std::string& bytes : {utf16, utf32})
        EXPECT_NE(refusal(bytes).find("test.zmx: the encoding is not recognised"), std::string::npos)
            << refusal(bytes);

    // An endless stream (a link to /dev/zero) stops at the size limit.
    struct Endless : std::streambuf {
        char block[4096] = {};
        int_type underflow() override {
            setg(block, block, block + sizeof block);
            return 0;
        }
    } zeros;
    std::istream endless(&zeros);
    try {
        importZmx(endless, "zero.zmx");
        ADD_FAILURE() << "no xmsg";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(),
                  "zero.zmx: more than 64 MiB; no description, lens file or glass catalogue is that "
                  "large");
    }
    try {
        importZmx(kData);
        ADD_FAILURE() << "no xmsg";
    } catch (const xmsg& e) {
        EXPECT_NE(e.message().find("is a directory"), std::string::npos) << e.message();
    }
}

// Found by fuzzing: an asphere whose steep rim refracts a ray to grazing,
// where the refracted cosine rounded a hair below 0 and the Fresnel
// transmittance with it (−4.5e-16). The power is now 0, on the scalar path
// and in the vector lanes alike.
TEST(LensFile, GrazingRefractionTransmitsNoNegativePower) {
    TLensFile lens = importZmx(kData + "/grazing_asphere.zmx");
    TOpticalSystem& system = lens.system;
    const TBeamNode start(TVector(-0.7 * system.defaultRadius, -0.07, -1.0), TVector(0, 0, 1), 1.0,
                          TVector(0, 1, 0), 0.0);
    TBeam beam(lens.wavelengthInLensUnit);
    beam.addNode(start);
    system.traceBeam(beam);
    ASSERT_GT(beam.getSize(), 2);
    for (int i = 0; i < beam.getSize(); ++i) EXPECT_GE(beam[i].intensity, 0.0) << i;
    TRayBatch batch(lens.wavelengthInLensUnit);
    batch.add(start);
    traceRays(system, batch);
    ASSERT_TRUE(batch.ok(0));
    EXPECT_EQ(batch.last(0).intensity, beam.getLast().intensity);
}
