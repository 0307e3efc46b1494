// SPDX-License-Identifier: Apache-2.0
// lumivex mtf: the diffraction MTF of each field, tangential and sagittal,
// against the diffraction limit, as a table and an SVG figure.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "diffraction.h"
#include "diffraction_svg.h"
#include "format.h"
#include "load.h"
#include "lumivex/results.h"

namespace lumivex::cli {

namespace {


void runMtf(const DiffractionOptions& options) {
    const AnalysedPsfs a = analysedPsfs(options);
    std::vector<TMtf> mtfs;
    for (const TPsf& p : a.psfs) mtfs.push_back(modulationTransfer(p));

    if (!options.output.empty())
        writeOutput(options.output, mtfSvg("MTF: " + a.name, mtfs, a.unit));
    if (!options.csvFile.empty()) writeFile(options.csvFile, mtfCsv(mtfs));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json top{{"system", a.name}};
        top.update(a.wavelengths);
        top["mtfs"] = mtfs;
        out << top.dump(2) << '\n';
        return;
    }
    out << "System: " << a.name << ", wavelength " << a.wavelengthWords
        << "\nDiffraction MTF from the FFT PSF; frequencies in cycles per " << a.unit << ", cutoff "
        << number(mtfs.front().cutoff, 5) << " = 1/(λ·F#)\n";
    for (std::size_t f = 0; f < mtfs.size(); ++f) {
        const TMtf& m = mtfs[f];
        out << "\nField " << a.fieldLabels[f] << (a.fieldHeader == "field deg" ? " deg" : "")
            << ", image z = " << number(m.z) << '\n';
        TextTable table;
        for (const char* h : {"frequency", "tangential", "sagittal", "diffraction limit"})
            table.addColumn(h);
        // About sixteen rows from zero to the cutoff; the CSV and JSON hold every frequency.
        const std::size_t stride = std::max<std::size_t>(1, (m.frequency.size() - 1) / 16);
        for (std::size_t k = 0; k < m.frequency.size(); k += stride)
            table.addRow({number(m.frequency[k], 5), fixed(m.tangential[k], 4),
                          fixed(m.sagittal[k], 4), fixed(m.diffractionLimit[k], 4)});
        table.print(out);
    }
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addMtfCommand(CLI::App& app) {
    auto options = std::make_shared<DiffractionOptions>("mtf.svg");
    CLI::App* command = app.add_subcommand(
        "mtf", "Diffraction MTF at field angles, tangential and sagittal, against the "
               "diffraction limit, as a table and an SVG");
    addDiffractionOptions(*command, *options, "Also write the MTF of every field as CSV");
    command->callback([options] { runMtf(*options); });
}

}  // namespace lumivex::cli
