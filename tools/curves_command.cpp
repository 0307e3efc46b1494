// SPDX-License-Identifier: Apache-2.0
// lumivex colour and lumivex field-curves: a prescription's chromatic focal
// shift and lateral colour, and its field curvature and distortion, as
// tables, CSV, JSON and SVG curves.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "curves_svg.h"
#include "format.h"
#include "lens_analyses.h"
#include "load.h"
#include "lumivex/results.h"
#include "options.h"

namespace lumivex::cli {

namespace {

struct CurvesOptions : AnalysisOptions {
    explicit CurvesOptions(std::string figure) : AnalysisOptions(std::move(figure)) {}
    int samples = 21;
};

// The prescription the curves are drawn for: a bare description has no
// fields or wavelengths to draw them over.
TPrescription curvesLens(const CurvesOptions& options, const char* command, LoadedPrescription& loaded) {
    if (!isPrescriptionFile(options.file))
        throw ToolError(kExitInput, std::string(command) +
                                        " needs a prescription (a .zmx or .json file) with its fields "
                                        "and wavelengths");
    loaded = loadPrescription(options.file);
    TPrescription lens = lensFor(loaded, options);
    if (!std::isnan(options.imageZ)) lens.imageZ = options.imageZ;
    return lens;
}

std::string fieldAxisTitle(const TPrescription& lens) {
    return lens.fieldKind == TFieldKind::angle ? "field (degrees)" : "object height (" + lens.unit + ")";
}

void addCurvesOptions(CLI::App& command, CurvesOptions& options, const std::string& csvHelp) {
    addAnalysisOptions(command, options, csvHelp);
    allow(command.add_option("--samples", options.samples, "Points along each curve")->capture_default_str(),
          Allowed::whole(2, 10000));
}

void runColour(const CurvesOptions& options) {
    LoadedPrescription loaded;
    const TPrescription lens = curvesLens(options, "colour", loaded);
    TTraceOptions trace;
    trace.threads = options.threads;
    const TFocalShift shift = analysed([&] { return chromaticFocalShift(lens, options.samples); });
    const TLateralColour colour = analysed([&] { return lateralColour(lens, options.samples, trace); });

    if (!options.output.empty())
        writeOutput(options.output, colourSvg("Colour: " + loaded.source.name, shift, colour, lens.unit,
                                              fieldAxisTitle(lens)));
    if (!options.csvFile.empty()) writeFile(options.csvFile, colourCsv(shift, colour));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        out << nlohmann::json{{"lens", loaded.source.name},
                              {"focalShift", shift},
                              {"lateralColour", colour}}
                   .dump(2)
            << '\n';
        return;
    }
    out << "Lens: " << loaded.source.name << "\nChromatic focal shift: the paraxial focus against "
        << "the wavelength, less the primary's (z = " << number(shift.primaryFocusZ) << "), range "
        << number(shift.range, 4) << ' ' << lens.unit << "\n";
    TextTable focal;
    for (const char* h : {"wavelength um", "focus z", "shift"}) focal.addColumn(h);
    for (std::size_t i = 0; i < shift.wavelengths.size(); ++i)
        focal.addRow({number(shift.wavelengths[i], 5), number(shift.focusZ[i]), number(shift.shift[i], 4)});
    focal.print(out);
    out << "\nLateral colour: the chief ray's height at " << number(colour.longUm, 5) << " um less at "
        << number(colour.shortUm, 5) << " um, in the image plane z = " << number(colour.z) << '\n';
    TextTable lateral;
    for (const char* h : {fieldHeader(lens), "short height", "long height",
                                 "difference"})
        lateral.addColumn(h);
    for (std::size_t i = 0; i < colour.field.size(); ++i)
        lateral.addRow({number(colour.field[i]), number(colour.shortHeight[i]), number(colour.longHeight[i]),
                        number(colour.difference[i], 4)});
    lateral.print(out);
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

void runFieldCurves(const CurvesOptions& options) {
    LoadedPrescription loaded;
    const TPrescription lens = curvesLens(options, "field-curves", loaded);
    TTraceOptions trace;
    trace.threads = options.threads;
    const TFieldCurves curves =
        analysed([&] { return fieldCurves(lens, options.samples, options.wavelength, trace); });

    if (!options.output.empty())
        writeOutput(options.output, fieldCurvesSvg("Field curves: " + loaded.source.name, curves, lens.unit,
                                                   fieldAxisTitle(lens)));
    if (!options.csvFile.empty()) writeFile(options.csvFile, fieldCurvesCsv(curves));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        out << nlohmann::json{{"lens", loaded.source.name}, {"fieldCurves", curves}}.dump(2) << '\n';
        return;
    }
    out << "Lens: " << loaded.source.name << ", wavelength " << number(curves.wavelengthUm)
        << " um, image plane z = " << number(curves.z)
        << "\nTangential and sagittal foci of close rays about the chief ray, along z from the image "
           "plane; distortion 100 (h - h')/h' against the paraxial height h'\n";
    TextTable table;
    for (const char* h : {fieldHeader(lens), "tangential", "sagittal",
                                 "height", "paraxial", "distortion %"})
        table.addColumn(h);
    const auto cell = [](double v) { return std::isfinite(v) ? number(v, 4) : std::string("-"); };
    for (std::size_t i = 0; i < curves.field.size(); ++i)
        table.addRow({number(curves.field[i]), cell(curves.tangential[i]), cell(curves.sagittal[i]),
                      number(curves.height[i]), number(curves.paraxialHeight[i]),
                      fixed(curves.distortion[i], 4)});
    table.print(out);
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addColourCommand(CLI::App& app) {
    auto options = std::make_shared<CurvesOptions>("colour.svg");
    CLI::App* command = app.add_subcommand(
        "colour", "A prescription's chromatic focal shift against the wavelength and lateral colour "
                  "against the field, as tables and an SVG");
    addCurvesOptions(*command, *options, "Also write both curves as CSV (curve, abscissa, value)");
    command->callback([options] { runColour(*options); });
}

void addFieldCurvesCommand(CLI::App& app) {
    auto options = std::make_shared<CurvesOptions>("field-curves.svg");
    CLI::App* command = app.add_subcommand(
        "field-curves", "A prescription's field curvature (tangential and sagittal foci) and "
                        "distortion against the field, as a table and an SVG");
    addCurvesOptions(*command, *options, "Also write the curves as CSV");
    command->callback([options] { runFieldCurves(*options); });
}

}  // namespace lumivex::cli
