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
