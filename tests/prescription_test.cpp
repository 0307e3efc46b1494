// SPDX-License-Identifier: Apache-2.0
// Prescriptions: materials that follow the wavelength, first-order data
// against Gaussian imaging worked surface by surface, real ray aiming, the
// JSON file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>

#include "lumivex/analysis.h"
#include "lumivex/lensfile.h"
#include "lumivex/prescription.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

const double n1 = 1.62041, n2 = 1.62004;  // crown and flint at the d line

// A Cooke triplet with a flat stop in the air space before the flint,
// F/4 at about 50 mm.
TPrescription triplet() {
    TPrescription p;
    p.addStandard(0.0, 21.48, TMaterial::fixedIndex(n1));
    p.addStandard(2.0, -124.1, TMaterial::air());
    p.addStandard(6.26, 0.0, TMaterial::air());
    p.addStandard(7.26, -19.1, TMaterial::fixedIndex(n2));
    p.addStandard(8.51, 22.0, TMaterial::air());
    p.addStandard(13.2, 328.9, TMaterial::fixedIndex(n1));
    p.addStandard(15.45, -16.7, TMaterial::air());
    p.stop = 2;
    p.aperture = {TApertureKind::entrancePupilDiameter, 12.5};
    p.fields = {{0, 0, 1}, {10, 0, 1}, {20, 0, 1}, {0, 14, 1}};
    p.wavelengths = {{kLineD, 1.0}};
    return p;
}

// The ray's crossing of element k (node k + 1 of its beam).
TVector crossing(TOpticalSystem& system, const TAimedRay& ray, double wavelength, int k) {
    TBeam beam(wavelength);
    beam.addNode(TBeamNode(ray.position, ray.direction, 1.0, TVector(0, 1, 0), 0.0));
    system.traceBeam(beam);
    return beam[k + 1].position;
}

}  // namespace

TEST(Prescription, TripletPupilsAndAiming) {
    const TPrescription p = triplet();
    const TFirstOrder f = p.firstOrder();

    // The entrance pupil is the stop imaged back through the first lens:
    // n′/l′ − n/l = (n′ − n)/R at each surface, from the stop 4.26 behind
    // surface 2 to object space.
    const double l2p = 4.26;
    const double l2 = n1 / (1.0 / l2p - (1.0 - n1) / -124.1);
    const double l1p = 2.0 + l2;
    const double l1 = 1.0 / (n1 / l1p - (n1 - 1.0) / 21.48);
    const double m = (1.0 * l1p) / (n1 * l1) * (n1 * l2p) / (1.0 * l2);  // pupil → stop
    EXPECT_NEAR(f.entrancePupilZ, l1, 1e-12 * std::abs(l1) + 1e-12);
    EXPECT_DOUBLE_EQ(f.entrancePupilDiameter, 12.5);
    EXPECT_NEAR(f.stopSemiDiameter, 6.25 * std::abs(m), 1e-12);
    EXPECT_NEAR(f.efl / f.entrancePupilDiameter, f.fNumber, 1e-12 * f.fNumber);

    // The same focal length from near-axis real rays.
    TOpticalSystem system = p.systemAt();
    const double wavelength = p.wavelengthInLensUnit();
    EXPECT_DOUBLE_EQ(wavelength, kLineD * 1e-3);
    TCollimatedBeam beam;
    beam.wavelength = wavelength;
    beam.pupilRadius = 6.25;
    beam = resolveFilledBeam(system, beam);
    const TParaxialData real = paraxialData(system, beam);
    EXPECT_NEAR(f.efl, real.efl, 1e-5 * f.efl);
    EXPECT_NEAR(f.paraxialImageZ, real.focusZ, 1e-4);
    EXPECT_NEAR(p.imagePlaneZ(), f.paraxialImageZ, 0.0);

    // Real aiming puts the chief ray through the stop's centre and the
    // marginal rays on its rim, at every field; paraxial aiming misses the
    // centre off axis, which is why real aiming is the default.
    const double s = f.stopSemiDiameter;
    for (int field = 0; field < 4; ++field) {
        const std::vector<TAimedRay> rays = p.rays(field, {{0, 0}, {1, 0}, {0, -1}, {0.5, 0.5}});
        ASSERT_EQ(rays.size(), 4u);
        for (const TAimedRay& r : rays) ASSERT_TRUE(r.ok) << r.message;
        const TVector chief = crossing(system, rays[0], wavelength, p.stop);
        EXPECT_LE(std::hypot(chief.x, chief.y), 1e-9 * s) << "field " << field;
        const TVector rim = crossing(system, rays[1], wavelength, p.stop);
        EXPECT_NEAR(rim.x, s, 1e-9 * s);
        EXPECT_NEAR(rim.y, 0.0, 1e-9 * s);
        const TVector bottom = crossing(system, rays[2], wavelength, p.stop);
        EXPECT_NEAR(bottom.y, -s, 1e-9 * s);
        const TVector mid = crossing(system, rays[3], wavelength, p.stop);
        EXPECT_NEAR(mid.x, 0.5 * s, 1e-9 * s);
        EXPECT_NEAR(mid.y, 0.5 * s, 1e-9 * s);
        // Directions follow the field angle for an object at infinity.
        const double theta = p.fields[static_cast<std::size_t>(field)].x * 3.141592653589793 / 180;
        EXPECT_NEAR(rays[0].direction.x / rays[0].direction.z, std::tan(theta), 1e-15);
    }
    const TAimedRay paraxialChief = p.rays(2, {{0, 0}}, kLineD, TAiming::paraxial)[0];
    const TVector missed = crossing(system, paraxialChief, wavelength, p.stop);
    EXPECT_GT(std::abs(missed.x), 1e-3 * s);

    // A point that cannot be aimed fails alone, with a message.
    const std::vector<TAimedRay> some = p.rays(1, {{0, 0}, {40, 0}});
    EXPECT_TRUE(some[0].ok);
    EXPECT_FALSE(some[1].ok);
    EXPECT_NE(some[1].message.find("pupil (40"), std::string::npos) << some[1].message;

    // The beams' paraxial reach: at the first surface the pupil's radius plus
    // the 20° chief ray's height on its way to the pupil; at the stop its
    // semi-diameter alone.
    const std::vector<double> semi = p.paraxialSemiDiameters();
    EXPECT_NEAR(semi[0], 6.25 + l1 * std::tan(20 * 3.141592653589793 / 180), 1e-12);
    EXPECT_NEAR(semi[2], s, 1e-12);
    EXPECT_NE(p.table().find(" P"), std::string::npos);

    // The stop clips at its semi-diameter; nothing else does.
    const std::vector<double> clip = p.clipRadii();
    ASSERT_EQ(clip.size(), 7u);
    EXPECT_NEAR(clip[2], s, 1e-8 * s);
    EXPECT_TRUE(std::isnan(clip[0])) << clip[0];
}

TEST(Prescription, FiniteConjugateSingletAndModelGlassColour) {
    // A biconvex singlet 200 in front of an object, against the thick-lens
    // formulas: power, principal planes, Newton's imaging from them.
    const double n = 1.5, R1 = 50, R2 = -50, t = 5, d = 200;
    TPrescription p;
    p.addStandard(0, R1, TMaterial::fixedIndex(n));
    p.addStandard(t, R2, TMaterial::air());
    p.objectDistance = d;
    p.aperture = {TApertureKind::objectNA, 0.02};
    p.fieldKind = TFieldKind::objectHeight;
    p.fields = {{0, 0, 1}, {5, 0, 1}};
    p.wavelengths = {{kLineD, 1}};
    const double phi = (n - 1) * (1 / R1 - 1 / R2) + (n - 1) * (n - 1) * t / (n * R1 * R2);
    const double fl = 1 / phi;
    const double h1 = -fl * (n - 1) * t / (n * R2);  // S1 to H
    const double h2 = -fl * (n - 1) * t / (n * R1);  // S2 to H′
    const double s = d + h1;
    const double sp = 1 / (1 / fl - 1 / s);
    const TFirstOrder f = p.firstOrder();
    EXPECT_NEAR(f.efl, fl, 1e-12 * fl);
    EXPECT_DOUBLE_EQ(f.objectZ, -d);
    EXPECT_NEAR(f.paraxialImageZ, t + h2 + sp, 1e-10);
    EXPECT_NEAR(f.magnification, -sp / s, 1e-12);
    EXPECT_NEAR(f.objectNA, 0.02, 1e-15);
    // The object point of field 1 sits at height 5 in the object plane, and
    // its rays reach the image near m·5.
    const std::vector<TAimedRay> rays = p.rays(1, {{0, 0}});
    ASSERT_TRUE(rays[0].ok) << rays[0].message;
    EXPECT_DOUBLE_EQ(rays[0].position.x, 5.0);
    EXPECT_DOUBLE_EQ(rays[0].position.z, -d);
    TOpticalSystem system = p.systemAt();
    TBeam beam(p.wavelengthInLensUnit());
    beam.addNode(TBeamNode(rays[0].position, rays[0].direction, 1, TVector(0, 1, 0), 0));
    system.traceBeam(beam);
    EXPECT_NEAR(positionAtZ(beam, f.paraxialImageZ).x, 5 * f.magnification, 0.02);

    // A model glass of nd 1.62, vd 60: nd exact, nF − nC = (nd − 1)/vd, and
    // the axial colour of a thin singlet f·(nF − nC)/(nd − 1) = f/V.
    const TMaterial model = TMaterial::modelGlass(1.62, 60);
    EXPECT_NEAR(model.indexAt(kLineD).real(), 1.62, 1e-15);
    EXPECT_NEAR(model.indexAt(kLineF).real() - model.indexAt(kLineC).real(), 0.62 / 60, 1e-15);
    TPrescription c;
    c.addStandard(0, 50, model);
    c.addStandard(2, -50, TMaterial::air());
    c.aperture = {TApertureKind::entrancePupilDiameter, 10};
    c.fields = {{0, 0, 1}};
    c.wavelengths = {{kLineF, 1}, {kLineD, 1}, {kLineC, 1}};
    c.primary = 1;
    const double efl = c.firstOrder().efl;
    const double shift = c.firstOrder(kLineC).paraxialImageZ - c.firstOrder(kLineF).paraxialImageZ;
    EXPECT_NEAR(shift, efl / 60, 0.03 * efl / 60);
    // systemAt evaluates the glass at the wavelength asked for.
    const TOpticalSystem blue = c.systemAt(kLineF);
    EXPECT_DOUBLE_EQ(dynamic_cast<const TSurface*>(blue[1])->refIndex.real(),
                     model.indexAt(kLineF).real());
}

TEST(Prescription, JsonRoundTripAndErrors) {
    TPrescription p = triplet();
    p.title = "round trip";
    p.surfaces[0].material = TMaterial::catalogueGlass("N-BK7");
    p.surfaces[3].material = TMaterial::modelGlass(1.6200400000000001, 36.37, "F2 model");
    p.surfaces[5].material = TMaterial::fixedIndex(complex(1.6516, 1e-7));
    p.surfaces[4].clearSemiDiameter = 4.1234567890123456;
    p.surfaces[1].drawSemiDiameter = 7.0;
    p.surfaces.push_back(p.surfaces.back());
    p.surfaces.back() = TPrescriptionSurface(
        std::make_unique<TEvenAsphere>(17.0, complex(1, 0), 0.0, -40.0 / 3, -0.7,
                                       std::vector<double>{1e-4 / 3, -2.5e-7}),
        TMaterial::air());
    p.surfaces[6].material = TMaterial::fixedIndex(1.5);
    p.objectDistance = 1234.5678901234567;
    p.fields = {{0.1, 0.2, 0.3}, {1.0 / 3, 0, 2.0 / 3}};
    p.wavelengths = {{0.4861327, 0.5}, {0.5875618, 1.0 / 3}, {0.6562725, 1}};
    p.primary = 1;
    p.imageZ = 65.4321;
    p.aiming = TAiming::paraxial;
    const std::string text = p.toJson();
    const TPrescription q = TPrescription::fromJson(text);
    EXPECT_EQ(q.toJson(), text);
    EXPECT_EQ(q.objectDistance, p.objectDistance);
    EXPECT_EQ(q.fields[1].x, 1.0 / 3);
    EXPECT_EQ(q.wavelengths[1].weight, 1.0 / 3);
    EXPECT_EQ(q.surfaces[4].clearSemiDiameter, p.surfaces[4].clearSemiDiameter);
    EXPECT_EQ(dynamic_cast<const TEvenAsphere&>(*q.surfaces[7].element).getCoefficients()[0], 1e-4 / 3);
    EXPECT_EQ(q.surfaces[0].material.indexAt(0.55), p.surfaces[0].material.indexAt(0.55));
    EXPECT_EQ(q.surfaces[5].material.index, complex(1.6516, 1e-7));
    EXPECT_EQ(q.aiming, TAiming::paraxial);
    // The same system, element by element and bit by bit.
    std::ostringstream a, b;
    a.precision(17);
    b.precision(17);
    a << p.systemAt(0.55);
    b << q.systemAt(0.55);
    EXPECT_EQ(a.str(), b.str());

    auto message = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const xmsg& e) {
            return e.message();
        }
        return std::string("no error");
    };
    TPrescription bad = triplet();
    bad.stop = 7;
    EXPECT_NE(message([&] { bad.systemAt(); }).find("the stop 7 is not a surface"), std::string::npos);
    bad = triplet();
    bad.aperture.value = -1;
    EXPECT_NE(message([&] { bad.firstOrder(); }).find("aperture value must be positive"), std::string::npos);
    bad = triplet();
    bad.wavelengths[0].um = std::nan("");
    EXPECT_NE(message([&] { bad.validate(); }).find("wavelength 0"), std::string::npos);
    bad = triplet();
    bad.fieldKind = TFieldKind::objectHeight;
    EXPECT_NE(message([&] { bad.validate(); }).find("object heights need a finite object distance"),
              std::string::npos);
    EXPECT_NE(message([] { TMaterial::modelGlass(1.6, 0); }).find("Abbe number"), std::string::npos);
    EXPECT_NE(message([&] { triplet().rays(9, {{0, 0}}); }).find("field 9"), std::string::npos);
    std::string broken = text;
    broken.replace(broken.find("\"R\""), 3, "\"Q\"");
    EXPECT_NE(message([&] { TPrescription::fromJson(broken, "lens.json"); }).find("lens.json: surfaces[0]: lacks \"R\""),
              std::string::npos);
    EXPECT_NE(message([] { TPrescription::fromJson("{", "x.json"); }).find("x.json: not JSON"), std::string::npos);
}

// ---------------------------------------------------------------------------
// .zmx files as prescriptions

namespace {

std::string data(const std::string& name) { return std::string(LUMIVEX_TEST_DATA_DIR) + "/" + name; }

bool listed(const std::vector<TZmxItem>& items, const std::string& keyword, int surface = -2) {
    for (const TZmxItem& i : items)
        if (i.keyword == keyword && (surface == -2 || i.surface == surface)) return true;
    return false;
}

}  // namespace

TEST(ZmxPrescription, BookkeepingIsSkippedAndListed) {
    const TZmxPrescription in = importZmxPrescription(data("bookkeeping.zmx"));
    const TPrescription& p = in.prescription;
    // Every keyword that changes no ray path is passed over and named.
    for (const char* key : {"COAT", "SSID", "OEMA", "MAZH", "HIDE", "SLAB", "POPS", "MEMA", "TCE", "COMM"})
        EXPECT_TRUE(listed(in.skipped, key)) << key;
    for (const char* key : {"NAME", "NOTE", "GFAC", "MNUM", "RAIM", "VDXN", "ENVD"})
        EXPECT_TRUE(listed(in.skipped, key, -1)) << key;
    EXPECT_TRUE(listed(in.skipped, "SSID", 1));
    // Three surfaces (the object and the image are not elements), the stop
    // on the first, the image plane 51.5 behind it.
    ASSERT_EQ(p.surfaces.size(), 3u);
    EXPECT_EQ(p.stop, 0);
    EXPECT_DOUBLE_EQ(p.imageZ, 51.5);
    EXPECT_DOUBLE_EQ(p.surfaces[0].clearSemiDiameter, 6.5);  // CLAP
    EXPECT_DOUBLE_EQ(p.surfaces[1].clearSemiDiameter, 7.0);  // FLAP
    EXPECT_DOUBLE_EQ(p.surfaces[2].clearSemiDiameter, 0.0);
    EXPECT_DOUBLE_EQ(p.surfaces[2].drawSemiDiameter, 7.0);   // DIAM
    // A model glass whose name the catalogue knows is the catalogue's; one
    // it does not know follows nd and vd.
    EXPECT_EQ(p.surfaces[0].material.kind, TMaterial::Kind::glass);
    EXPECT_EQ(p.surfaces[0].material.glass.catalogue, "SCHOTT");
    EXPECT_EQ(p.surfaces[1].material.kind, TMaterial::Kind::model);
    EXPECT_DOUBLE_EQ(p.surfaces[1].material.abbe, 36.0);
    EXPECT_EQ(p.aperture.kind, TApertureKind::imageFNumber);
    EXPECT_NEAR(p.firstOrder().fNumber, 5.0, 1e-12);
    ASSERT_EQ(p.fields.size(), 2u);
    EXPECT_DOUBLE_EQ(p.fields[1].x, 3.0);
    EXPECT_DOUBLE_EQ(p.fields[1].weight, 0.5);
    ASSERT_EQ(p.wavelengths.size(), 3u);
    EXPECT_EQ(p.primary, 1);
    EXPECT_DOUBLE_EQ(p.wavelengths[0].weight, 0.5);
    // The bare system of the same file still imports, image surface last.
    EXPECT_EQ(importZmx(data("bookkeeping.zmx")).system.getSize(), 4);
}

TEST(ZmxPrescription, UnmodellableConstructsAreRefusedInOneReport) {
    std::string message;
    try {
        importZmxPrescription(data("unmodellable.zmx"));
    } catch (const xmsg& e) {
        message = e.message();
    }
    EXPECT_NE(message.find("6 constructs change ray paths"), std::string::npos) << message;
    for (const char* part : {"zmx:18: surface 1: PARM 2 = 0.001 on a STANDARD surface",
                             "zmx:20: surface 2: TYPE COORDBRK, a coordinate break",
                             "zmx:27: surface 3: GLAS MIRROR, a reflecting surface",
                             "zmx:29: surface 4: TYPE TOROIDAL, a toroid",
                             "zmx:33: surface 5: TYPE DGRATING, a grating", "zmx:39: surface 6: SCBD"})
        EXPECT_NE(message.find(part), std::string::npos) << part << "\n" << message;
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_EQ(message.find("COAT"), std::string::npos);
}

TEST(ZmxPrescription, FiniteObjectAndObjectHeights) {
    const TPrescription p = importZmxPrescription(data("finite_singlet.zmx")).prescription;
    EXPECT_DOUBLE_EQ(p.objectDistance, 200.0);
    EXPECT_EQ(p.fieldKind, TFieldKind::objectHeight);
    EXPECT_EQ(p.aperture.kind, TApertureKind::objectNA);
    EXPECT_DOUBLE_EQ(p.imageZ, 65.0);
    // The singlet of FiniteConjugateSingletAndModelGlassColour, read from a file.
    const double n = 1.5, R1 = 50, R2 = -50, t = 5;
    const double fl = 1 / ((n - 1) * (1 / R1 - 1 / R2) + (n - 1) * (n - 1) * t / (n * R1 * R2));
    const double s = 200 - fl * (n - 1) * t / (n * R2);
    const TFirstOrder f = p.firstOrder();
    EXPECT_NEAR(f.magnification, -(1 / (1 / fl - 1 / s)) / s, 1e-12);
    EXPECT_NEAR(f.objectNA, 0.02, 1e-15);
    const TAimedRay top = p.rays(1, {{0, 0}})[0];
    ASSERT_TRUE(top.ok) << top.message;
    EXPECT_DOUBLE_EQ(top.position.x, 5.0);  // the file's y field is the library's x
}
