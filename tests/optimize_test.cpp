// SPDX-License-Identifier: Apache-2.0
// The merit function and its Jacobian: the exact columns against central
// differences on every variable kind, the operands against the analyses
// they restate, and failures that stay finite.
#include <gtest/gtest.h>

#include <cmath>

#include "lumivex/analysis.h"
#include "lumivex/optimize.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

constexpr double kLambda = 5.876e-4;  // the d line, in millimetres
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A Cooke triplet of focal length about 50 (F/5): crown, flint, crown. Each
// element's index is the medium in front of it. `kinds` picks the class of
// each face so that every closed-form kind is traced: 'g' TGeneralLens, 's'
// TSphericalLens, 'a' TEvenAsphere, 'z' a zoned sphere (no derivatives).
TOpticalSystem triplet(const char* kinds = "gggggg") {
    const double R[6] = {21.48, -124.1, -19.1, 22.0, 328.9, -16.7};
    const double z[6] = {0.0, 2.0, 7.26, 8.51, 13.2, 15.45};
    const double n[6] = {1.0, 1.6204, 1.0, 1.62, 1.0, 1.6204};
    TOpticalSystem system(8.0);
    for (int i = 0; i < 6; ++i) {
        const complex index(n[i], 0.0);
        switch (kinds[i]) {
            case 's': system.addElement(new TSphericalLens(z[i], index, 0.0, R[i])); break;
            case 'z': system.addElement(new TSphericalLens(z[i], index, 1e3, R[i])); break;
            case 'a':
                system.addElement(new TEvenAsphere(z[i], index, 0.0, R[i], -0.5, {1e-5, -2e-7}));
                break;
            default: system.addElement(new TGeneralLens(z[i], index, 0.0, R[i], 0.0)); break;
        }
    }
    system.addElement(new TSlab(58.0, complex(1.0, 0.0)));
    TCollimatedBeam beam;
    beam.wavelength = kLambda;
    beam.pupilRadius = 5.0;
    system[6]->zPosition = paraxialImageZ(system, resolveBeam(system, beam));
    return system;
}

void addOperands(TMeritFunction& merit) {
    TOperand op;
    op.rays = 60;
    for (double field : {0.0, 0.12}) {
        op.fieldAngle = field;
        merit.operands.push_back(op);
    }
    op.aboutChief = true;
    op.target = 0.01;  // one row of rms − target
    merit.operands.push_back(op);
    TOperand ray;
    ray.kind = TOperandKind::rayError;
    ray.fieldAngle = 0.1;
    ray.pupil = {0.3, -0.7};
    merit.operands.push_back(ray);
    for (TOperandKind kind : {TOperandKind::efl, TOperandKind::bfl, TOperandKind::fNumber,
                              TOperandKind::imageHeight, TOperandKind::totalTrack}) {
        TOperand first;
        first.kind = kind;
        first.target = 1.0;
        first.weight = 0.5;
        first.fieldAngle = 0.2;
        merit.operands.push_back(first);
    }
    TOperand edge;
    edge.kind = TOperandKind::minEdgeThickness;
    edge.element = 0;
    edge.target = 5.0;  // the edge is thinner than that: the bound is active
    merit.operands.push_back(edge);
}

// Every column of the exact Jacobian against central differences, each to
// 1e-6 of the column's size; columns that are themselves differences (of
// another step) to 1e-4.
void expectExactJacobian(TMeritFunction& merit) {
    const TEvaluation exact = merit.evaluate(true);
    const TEvaluation differences = merit.evaluateByDifferences(1e-6);
    ASSERT_EQ(exact.rows, differences.rows);
    for (std::size_t c = 0; c < exact.columns; ++c) {
        const std::string name = variableName(merit.variables[c]);
        double size = 0.0, worst = 0.0;
        for (std::size_t r = 0; r < exact.rows; ++r) {
            const double a = exact.jacobian[r * exact.columns + c];
            const double b = differences.jacobian[r * exact.columns + c];
            size = std::max(size, std::fabs(a));
            worst = std::max(worst, std::fabs(a - b));
        }
        const double tolerance = exact.methods[c] == TDerivativeMethod::exact ? 1e-6 : 1e-4;
        EXPECT_GT(size, 0.0) << name;
        EXPECT_LT(worst, tolerance * size) << name;
        // The operands' own gradients, to the same share of the column's
        // largest.
        size = 0.0;
        for (std::size_t o = 0; o < merit.operands.size(); ++o)
            size = std::max(size, std::fabs(exact.valueGradients[o * exact.columns + c]));
        for (std::size_t o = 0; o < merit.operands.size(); ++o) {
            const double a = exact.valueGradients[o * exact.columns + c];
            const double b = differences.valueGradients[o * exact.columns + c];
            EXPECT_NEAR(a, b, tolerance * size) << name << ", " << operandName(merit.operands[o]);
        }
    }
    EXPECT_EQ(exact.merit, differences.merit);
}

}  // namespace

TEST(Optimize, ExactJacobianMatchesCentralDifferencesOnEveryKind) {
    // Curvatures of every closed-form kind, every thickness including the
    // one to the image, a conic and asphere terms.
    TOpticalSystem system = triplet("gsgsga");
    TMeritFunction merit(system, kLambda, 5.0);
    for (int i = 0; i < 6; ++i) {
        merit.variables.push_back({TVariableKind::curvature, i});
        merit.variables.push_back({TVariableKind::thickness, i});
    }
    merit.variables.push_back({TVariableKind::conic, 2});
    merit.variables.push_back({TVariableKind::conic, 5});
    merit.variables.push_back({TVariableKind::asphere, 5, 1});
    merit.variables.push_back({TVariableKind::asphere, 5, 3});
    addOperands(merit);
    const TEvaluation e = merit.evaluate(true);
    for (TDerivativeMethod m : e.methods) EXPECT_EQ(m, TDerivativeMethod::exact);
    EXPECT_EQ(e.failedRays, 0);
    expectExactJacobian(merit);

    // Away from the starting design too (the values apply to every element).
    std::vector<double> values = merit.values();
    for (std::size_t i = 0; i < values.size(); i += 3) values[i] *= 1.02;
    merit.setValues(values);
    expectExactJacobian(merit);
}

TEST(Optimize, FallsBackToDifferencesBehindElementsWithoutDerivatives) {
    // Face 3 is zoned: variables ahead of it or on it go by differences and
    // say why; those behind it stay exact, and all agree.
    TOpticalSystem system = triplet("gggzgg");
    TMeritFunction merit(system, kLambda, 5.0);
    merit.variables = {{TVariableKind::curvature, 1}, {TVariableKind::curvature, 3},
                       {TVariableKind::thickness, 3}, {TVariableKind::curvature, 5}};
    addOperands(merit);
    const TEvaluation e = merit.evaluate(true);
    EXPECT_EQ(e.methods[0], TDerivativeMethod::centralDifferences);
    EXPECT_EQ(e.methodReasons[0], "element 3 (SphericalLens) carries no derivatives");
    EXPECT_EQ(e.methods[1], TDerivativeMethod::centralDifferences);
    EXPECT_EQ(e.methods[2], TDerivativeMethod::exact);
    EXPECT_EQ(e.methods[3], TDerivativeMethod::exact);
    expectExactJacobian(merit);
}

TEST(Optimize, OperandsAgreeWithTheAnalysesAndStayFinite) {
    TOpticalSystem system = triplet();
    const double image = system[6]->zPosition;
    TMeritFunction merit(system, kLambda, 5.0);
    TOperand spot;
    spot.rays = 100;  // 127 rays on 6 rings
    spot.fieldAngle = 0.1;
    TOperand efl;
    efl.kind = TOperandKind::efl;
    merit.operands = {spot, efl};
    merit.variables = {{TVariableKind::curvature, 0}, {TVariableKind::thickness, 5}};
    const TEvaluation e = merit.evaluate();
    EXPECT_EQ(e.rows, 2u * 127u + 1u);

    // The RMS spot and the focal length the analysis layer measures.
    TCollimatedBeam beam;
    beam.wavelength = kLambda;
    beam.pupilRadius = 5.0;
    beam = resolveFilledBeam(system, beam);
    TCollimatedBeam field = beam;
    field.fieldAngle = 0.1;
    TRayBatch batch = rayBatch(system, field, hexapolar(5.0, 6));
    traceRays(system, batch);
    EXPECT_NEAR(e.values[0], spotAt(batch, image).rms, 1e-12);
    EXPECT_NEAR(e.values[1], paraxialData(system, beam).efl, 1e-9);
    EXPECT_NEAR(e.merit, e.contributions[0] + e.contributions[1], 1e-12 * e.merit);
    EXPECT_NEAR(e.contributions[0], e.values[0] * e.values[0], 1e-12);

    // Setting values and setting them back restores every element to the bit.
    const std::vector<double> start = merit.values();
    merit.setValues({0.05, 40.0});
    EXPECT_NEAR(system[6]->zPosition, system[5]->zPosition + 40.0, 1e-12);
    EXPECT_NE(merit.evaluate().merit, e.merit);
    merit.setValues(start);
    EXPECT_EQ(system[6]->zPosition, image);
    EXPECT_EQ(merit.evaluate().merit, e.merit);

    // A pupil far wider than the lens: the marginal rays fail, each counts
    // as a point `penalty` from the centroid, and nothing is NaN.
    TMeritFunction wide(system, kLambda, 30.0);
    wide.operands = {spot};
    wide.penalty = 2.0;
    wide.variables = {{TVariableKind::curvature, 2}};
    const TEvaluation w = wide.evaluate(true);
    EXPECT_GT(w.failedRays, 0);
    EXPECT_TRUE(std::isfinite(w.merit));
    EXPECT_GE(w.merit, w.failedRays * 4.0 / 127.0);
    for (double j : w.jacobian) EXPECT_TRUE(std::isfinite(j));

    // What cannot be varied or measured says so.
    TMeritFunction bad(system, kLambda, 5.0);
    bad.variables = {{TVariableKind::curvature, 6}};
    try {
        bad.evaluate();
        ADD_FAILURE() << "a slab's curvature was varied";
    } catch (const xmsg& x) {
        EXPECT_EQ(x.message(), "curvature 6: element 6 (Slab) has no curvature to vary");
    }
    bad.variables = {{TVariableKind::thickness, 6}};
    EXPECT_THROW(bad.evaluate(), xmsg);
    bad.variables = {{TVariableKind::conic, 1}, {TVariableKind::conic, 1}};
    EXPECT_THROW(bad.evaluate(), xmsg);
    bad.variables.clear();
    TOperand far = spot;
    far.configuration = 1;
    bad.operands = {far};
    EXPECT_THROW(bad.evaluate(), xmsg);
}

TEST(Optimize, DampedLeastSquaresRecoversAPerturbedDesign) {
    // Curvatures 5 % off and the image plane out of focus; spots at two
    // fields and the focal length held. The solver must get back below the
    // design's own merit, inside the bounds, each accepted step lowering it.
    TOpticalSystem system = triplet();
    TMeritFunction merit(system, kLambda, 5.0);
    for (int i = 0; i < 6; ++i) merit.variables.push_back({TVariableKind::curvature, i});
    TDesignVariable focus{TVariableKind::thickness, 5};
    focus.lower = 30.0;
    focus.upper = 41.0;
    merit.variables.push_back(focus);
    TOperand op;
    op.rays = 40;
    for (double field : {0.0, 0.15}) {
        op.fieldAngle = field;
        merit.operands.push_back(op);
    }
    TOperand efl;
    efl.kind = TOperandKind::efl;
    efl.target = 50.0;
    efl.weight = 1e-2;
    merit.operands.push_back(efl);
    const double design = merit.evaluate().merit;

    std::vector<double> x = merit.values();
    for (int i = 0; i < 6; ++i) x[static_cast<std::size_t>(i)] *= i % 2 == 0 ? 1.05 : 0.95;
    x[6] = 45.0;  // outside its bounds: clamped to 41
    merit.setValues(x);
    int reports = 0;
    TOptimizeOptions options;
    options.progress = [&](const TIterationReport& r) {
        ++reports;
        EXPECT_TRUE(std::isfinite(r.merit));
        return true;
    };
    const TOptimizeResult result = optimize(merit, options);
    EXPECT_GT(result.before.merit, 10.0 * design);
    EXPECT_LT(result.after.merit, design);
    EXPECT_EQ(result.after.merit, merit.evaluate().merit);  // the systems hold the result
    const std::vector<double> held = merit.values();  // 1/(1/c) may differ in the last bit
    for (std::size_t i = 0; i < held.size(); ++i)
        EXPECT_NEAR(result.values[i], held[i], 1e-14 * std::fabs(held[i]));
    EXPECT_GE(result.values[6], 30.0);
    EXPECT_LE(result.values[6], 41.0);
    EXPECT_EQ(reports, static_cast<int>(result.history.size()));
    for (std::size_t i = 1; i < result.history.size(); ++i)
        EXPECT_LE(result.history[i], result.history[i - 1]);
    EXPECT_EQ(result.before.contributions.size(), 3u);

    // A callback that says stop ends the run after the starting point.
    merit.setValues(x);
    options.progress = [](const TIterationReport&) { return false; };
    EXPECT_EQ(optimize(merit, options).iterations, 0);
}

namespace {

// The triplet as a designer gives it: a flat stop in the air space before
// the flint, model glasses (so the three wavelengths differ), the entrance
// pupil's diameter and three fields.
TPrescription tripletPrescription() {
    TPrescription p;
    const TMaterial crown = TMaterial::modelGlass(1.6204, 60.3);
    const TMaterial flint = TMaterial::modelGlass(1.62004, 36.37);
    p.addStandard(0.0, 21.48, crown);
    p.addStandard(2.0, -124.1, TMaterial::air());
    p.addStandard(6.26, 0.0, TMaterial::air());
    p.addStandard(7.26, -19.1, flint);
    p.addStandard(8.51, 22.0, TMaterial::air());
    p.addStandard(13.2, 328.9, crown);
    p.addStandard(15.45, -16.7, TMaterial::air());
    p.stop = 2;
    p.aperture = {TApertureKind::entrancePupilDiameter, 10.0};
    p.fields = {{0, 0, 1}, {7, 0, 1}, {10, 5, 1}};
    p.wavelengths = {{kLineD, 1.0}, {kLineF, 1.0}, {kLineC, 1.0}};
    return p;
}

void addPrescriptionOperands(TMeritFunction& merit) {
    TOperand op;
    op.rays = 40;
    for (int field : {0, 1, 2}) {
        op.field = field;
        op.configuration = field;  // a different wavelength for each
        merit.operands.push_back(op);
    }
    TOperand ray;
    ray.kind = TOperandKind::rayError;
    ray.field = 2;
    ray.pupil = {0.3, -0.7};
    merit.operands.push_back(ray);
    for (TOperandKind kind : {TOperandKind::efl, TOperandKind::bfl, TOperandKind::fNumber,
                              TOperandKind::imageHeight, TOperandKind::totalTrack}) {
        TOperand first;
        first.kind = kind;
        first.target = 1.0;
        first.field = 1;
        first.configuration = 1;
        merit.operands.push_back(first);
    }
}

}  // namespace

TEST(Optimize, PrescriptionJacobianFollowsTheAimAndTheFocus) {
    // Curvatures and thicknesses ahead of the stop move the pupil the rays
    // are aimed through; with the image at the focus every variable moves
    // the image plane too. Both aims, both image planes, a finite object.
    for (int variant = 0; variant < 4; ++variant) {
        TPrescription p = tripletPrescription();
        if (variant == 1) p.aiming = TAiming::paraxial;
        if (variant == 2) p.imageZ = 58.0;
        if (variant == 3) p.objectDistance = 400.0;
        TMeritFunction merit(p);
        for (int i : {0, 1, 3, 4, 5, 6}) merit.variables.push_back({TVariableKind::curvature, i});
        for (int i : {0, 1, 3}) merit.variables.push_back({TVariableKind::thickness, i});
        merit.variables.push_back({TVariableKind::conic, 0});
        if (variant == 2) merit.variables.push_back({TVariableKind::thickness, 6});
        addPrescriptionOperands(merit);
        SCOPED_TRACE("variant " + std::to_string(variant));
        const TEvaluation e = merit.evaluate(true);
        for (TDerivativeMethod m : e.methods) EXPECT_EQ(m, TDerivativeMethod::exact);
        // Aimed at the paraxial pupil, rays of the outer field miss the
        // stop's rim and are vignetted there; aimed at it, none is.
        if (variant == 1)
            EXPECT_GT(e.failedRays, 0);
        else
            EXPECT_EQ(e.failedRays, 0);
        expectExactJacobian(merit);
    }
}

TEST(Optimize, PrescriptionOperandsAreItsAnalysesAndTheResultIsAPrescription) {
    const TPrescription p = tripletPrescription();
    TMeritFunction merit(p);
    TOperand spot;
    spot.rays = 100;  // 127 rays on 6 rings
    spot.field = 2;
    spot.configuration = merit.wavelengthConfiguration(kLineF);
    EXPECT_EQ(spot.configuration, 1);
    TOperand efl;
    efl.kind = TOperandKind::efl;
    efl.target = 50.0;
    merit.operands = {spot, efl};
    const TEvaluation e = merit.evaluate();
    const TSpotDiagram d = spotDiagram(p, 2, hexapolar(1.0, 6), kNaN, kLineF);
    EXPECT_NEAR(e.values[0], d.spot.rms, 1e-9 * d.spot.rms);
    EXPECT_NEAR(e.values[1], p.firstOrder().efl, 1e-12);

    // A wavelength the prescription does not list gets a configuration of
    // its own, at the current values.
    merit.variables = {{TVariableKind::curvature, 0}, {TVariableKind::thickness, 1}};
    merit.setValues({0.05, 4.0});
    const int q = merit.wavelengthConfiguration(0.55);
    EXPECT_EQ(q, 3);
    EXPECT_EQ(merit.system(q)[1]->zPosition, merit.system(0)[1]->zPosition);
    EXPECT_EQ(merit.system(q)[3]->zPosition, merit.system(0)[3]->zPosition);

    // The optimized prescription carries the values; its image plane
    // follows the focus as the original's did.
    TPrescription out = merit.prescription();
    EXPECT_EQ(dynamic_cast<TGeneralLens&>(*out.surfaces[0].element).curvatureRadius, 20.0);
    EXPECT_NEAR(out.surfaces[2].element->zPosition - out.surfaces[1].element->zPosition, 4.0, 1e-12);
    EXPECT_TRUE(std::isnan(out.imageZ));
    EXPECT_EQ(merit.system(0).getLast()->zPosition, out.firstOrder().paraxialImageZ);

    // The distance to an image plane that follows the focus is not free, and
    // a field it does not have is named.
    merit.variables = {{TVariableKind::thickness, 6}};
    EXPECT_THROW(merit.evaluate(), xmsg);
    merit.variables.clear();
    spot.field = 3;
    merit.operands = {spot};
    try {
        merit.evaluate();
        ADD_FAILURE() << "field 3 was traced";
    } catch (const xmsg& x) {
        EXPECT_NE(x.message().find("has no field 3 (it has 3)"), std::string::npos) << x.message();
    }
    TOpticalSystem other = p.systemAt();
    EXPECT_THROW(merit.addConfiguration(other, 5e-4), xmsg);
}
