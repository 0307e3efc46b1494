// SPDX-License-Identifier: Apache-2.0
// lumivex couple: the power a single-mode fibre at a prescription's object
// point couples into a fibre in its image plane, against the receiver's
// lateral offset, by both overlap routes.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "curves_svg.h"
#include "format.h"
#include "lens_analyses.h"
#include "load.h"
#include "lumivex/results.h"
#include "options.h"

namespace lumivex::cli {

namespace {

struct CoupleOptions {
    std::string file;
    std::string output = "couple.svg";
    std::string csvFile;
    bool json = false;
    int field = 0;
    double modeRadius = 0.0;
    double receiverRadius = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> offsets{0.0};
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    int samples = 64;
    int threads = 0;
};

void runCouple(const CoupleOptions& options) {
    if (!isPrescriptionFile(options.file))
        throw ToolError(kExitInput, "couple needs a prescription (a .zmx or .json file) with a finite object");
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription& lens = loaded.lens;
    if (options.field >= static_cast<int>(lens.fields.size()))
        throw ToolError(kExitInput, "--field must be an index into the prescription's " +
                                        std::to_string(lens.fields.size()) + " fields, not " +
                                        std::to_string(options.field));
    const double receiver = std::isnan(options.receiverRadius) ? options.modeRadius : options.receiverRadius;
    TTraceOptions trace;
    trace.threads = options.threads;
    std::vector<TFibreCoupling> couplings;
    try {
        for (double d : options.offsets)
            couplings.push_back(fibreCoupling(lens, options.field, options.modeRadius, receiver, d, 0.0,
                                              options.wavelength, options.samples, trace));
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, failureSummary(e.message()));
    }
    if (!options.output.empty())
        writeOutput(options.output, couplingSvg("Fibre coupling: " + loaded.source.name, options.offsets,
                                                couplings, options.modeRadius, receiver == options.modeRadius,
                                                lens.unit));
    if (!options.csvFile.empty()) {
        std::string csv = "offset,efficiency,image_plane_efficiency,transmitted\n";
        for (std::size_t k = 0; k < couplings.size(); ++k)
            csv += results::number(options.offsets[k]) + ',' + results::number(couplings[k].efficiency) + ',' +
                   results::number(couplings[k].imagePlaneEfficiency) + ',' +
                   results::number(couplings[k].transmitted) + '\n';
        writeFile(options.csvFile, csv);
    }
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (std::size_t k = 0; k < couplings.size(); ++k)
            rows.push_back({{"offset", options.offsets[k]},
                            {"efficiency", couplings[k].efficiency},
                            {"imagePlaneEfficiency", couplings[k].imagePlaneEfficiency},
                            {"transmitted", couplings[k].transmitted},
                            {"modeMatch", couplings[k].modeMatch},
                            {"receiver", {{"x", couplings[k].receiverX}, {"y", couplings[k].receiverY}}}});
        out << nlohmann::json{{"lens", loaded.source.name},
                              {"field", options.field},
                              {"modeRadius", options.modeRadius},
                              {"receiverRadius", receiver},
                              {"imageZ", couplings.front().z},
                              {"couplings", rows}}
                   .dump(2)
            << '\n';
        return;
    }
    out << "Lens: " << loaded.source.name << ", field " << options.field << ", mode field radii "
        << number(options.modeRadius) << " (source) and " << number(receiver) << " (receiver) " << lens.unit
        << ", image plane z = " << number(couplings.front().z)
        << "\nEfficiency by the overlap of the far fields over the pupil, and of the traced field in "
           "the image plane; the receiver offset along x\n";
    TextTable table;
    for (const char* h : {"offset", "efficiency", "image plane", "transmitted", "mode match"}) table.addColumn(h);
    for (std::size_t k = 0; k < couplings.size(); ++k)
        table.addRow({number(options.offsets[k]), fixed(couplings[k].efficiency, 4),
                      fixed(couplings[k].imagePlaneEfficiency, 4), fixed(couplings[k].transmitted, 4),
                      fixed(couplings[k].modeMatch, 4)});
    table.print(out);
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addCoupleCommand(CLI::App& app) {
    auto options = std::make_shared<CoupleOptions>();
    CLI::App* command = app.add_subcommand(
        "couple", "Fibre-to-fibre coupling through a prescription with a finite object, against the "
                  "receiving fibre's lateral offset, as a table and an SVG");
    command->add_option("file", options->file, "The prescription (.zmx or .json)")->required();
    allow(command->add_option("--mode-radius", options->modeRadius,
                              "The source fibre's mode field radius, in lens units")
              ->required(),
          Allowed::positive());
    allow(command->add_option("--receiver-radius", options->receiverRadius,
                              "The receiving fibre's (default: the source's)"),
          Allowed::positive());
    command->add_option("--offsets", options->offsets, "Receiver offsets along x, in lens units: 0,0.002,0.005")
        ->delimiter(',');
    allow(command->add_option("--field", options->field, "The source's field index")->capture_default_str(),
          Allowed::whole(0, 1e6));
    addWavelengthOption(*command, options->wavelength, "Wavelength in micrometres (default: the primary)");
    allow(command->add_option("--samples", options->samples, "Far-field grid points across")->capture_default_str(),
          Allowed::whole(8, 1024));
    addThreadsOption(*command, options->threads);
    command->add_option("-o,--output", options->output, "The SVG figure ('-' for standard output)")
        ->capture_default_str();
    command->add_option("--csv", options->csvFile, "Also write the efficiencies as CSV");
    command->add_flag("--json", options->json, "Print the numbers as JSON instead");
    command->callback([options] { runCouple(*options); });
}

}  // namespace lumivex::cli
