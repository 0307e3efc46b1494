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

namespace lumivex::cli {

namespace {

constexpr double kRadians = 3.141592653589793 / 180.0;

void runMtf(const DiffractionOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    std::vector<TMtf> mtfs;
    for (const TPsf& p : fieldPsfs(loaded, options)) mtfs.push_back(modulationTransfer(p));

    if (!options.output.empty())
        writeOutput(options.output, mtfSvg("MTF: " + loaded.source.name, mtfs, options.unit));
    if (!options.csvFile.empty()) {
        std::ostringstream os;
        os << "field_deg,frequency,tangential,sagittal,diffraction_limit\n";
        for (const TMtf& m : mtfs)
            for (std::size_t k = 0; k < m.frequency.size(); ++k)
                os << format("%.17g,%.17g,%.17g,%.17g,%.17g\n", m.fieldAngle / kRadians,
                             m.frequency[k], m.tangential[k], m.sagittal[k], m.diffractionLimit[k]);
        writeFile(options.csvFile, os.str());
    }
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const TMtf& m : mtfs)
            rows.push_back({{"fieldAngleDegrees", m.fieldAngle / kRadians},
                            {"z", m.z},
                            {"cutoff", m.cutoff},
                            {"frequency", m.frequency},
                            {"tangential", m.tangential},
                            {"sagittal", m.sagittal},
                            {"diffractionLimit", m.diffractionLimit}});
        out << nlohmann::json{{"system", loaded.source.name},
                              {"wavelength", loaded.wavelength},
                              {"mtfs", rows}}
                   .dump(2)
            << '\n';
        return;
    }
    out << "System: " << loaded.source.name << ", wavelength " << number(loaded.wavelength)
        << "\nDiffraction MTF from the FFT PSF; frequencies in cycles per length unit, cutoff "
        << number(mtfs.front().cutoff, 5) << " = 1/(λ·F#)\n";
    for (const TMtf& m : mtfs) {
        out << "\nField " << number(m.fieldAngle / kRadians) << " deg, image z = " << number(m.z)
            << '\n';
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
