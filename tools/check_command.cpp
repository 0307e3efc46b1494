// SPDX-License-Identifier: Apache-2.0
// lumivex check: reads a description and says exactly what the reader made
// of it: the elements with their values, the words it skipped, and where
// reading stopped if it did; for a .zmx lens file, what the import found.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>

#include "commands.h"
#include "elements.h"
#include "format.h"
#include "lens_analyses.h"
#include "lens_report.h"
#include "load.h"
#include "options.h"

namespace lumivex::cli {

namespace {

struct CheckOptions {
    std::string file;
    bool write = false;
    int precision = 0;
    double wavelength = std::numeric_limits<double>::quiet_NaN();
};

std::string lineTag(int line) { return "line " + std::to_string(line) + ":"; }

// A lens file: what the import found. A file it refuses never gets here.
void checkLensFile(const CheckOptions& options, const LoadedSystem& loaded) {
    std::ostream& os = options.write ? std::cerr : std::cout;
    printLensReport(os, loaded.source.name, *loaded.lens, *loaded.system);
    if (options.write) {
        if (options.precision > 0) std::cout.precision(options.precision);
        std::cout << *loaded.system;
    }
}

void runCheck(const CheckOptions& options) {
    if (isLensFile(options.file)) {
        // What the import read, surface by surface, then the lens it makes.
        const LoadedPrescription lens = loadPrescription(options.file);
        const double inLensUnit = options.wavelength * lens.lens.lensUnitsPerMicrometre();
        checkLensFile(options, readSystem(options.file, inLensUnit));
        return runLensCheck(lens, options.wavelength, false, options.write ? std::cerr : std::cout);
    }
    if (isPrescriptionFile(options.file))
        return runLensCheck(loadPrescription(options.file), options.wavelength, true,
                            options.write ? std::cerr : std::cout, options.write);
    LoadedSystem loaded = readSystem(options.file, options.wavelength);
    const TReadReport& scan = loaded.report;
    const TOpticalSystem& system = *loaded.system;
    // With --write standard output carries the description alone.
    std::ostream& os = options.write ? std::cerr : std::cout;

    os << "Reading " << loaded.source.name << '\n';
    if (scan.hasHeader) {
        os << "  " << lineTag(scan.header.line) << " header \"" << scan.header.text << "\"";
        if (scan.header.text != "OpticalSystem")
            os << " (any word is accepted here; the writer puts OpticalSystem)";
        os << '\n';
    }
    if (scan.hasRadius)
        os << "  " << lineTag(scan.radius.line) << " default radius "
           << number(system.defaultRadius) << '\n';

    // Record k became element k. Records and skipped words are listed in the
    // order of the text.
    std::size_t k = 0, w = 0;
    auto before = [](const TReadWord& a, const TReadWord& b) {
        return a.line < b.line || (a.line == b.line && a.column < b.column);
    };
    while (k < scan.records.size() || w < scan.skipped.size()) {
        if (w < scan.skipped.size() &&
            (k == scan.records.size() || before(scan.skipped[w], scan.records[k].keyword))) {
            const TReadWord& word = scan.skipped[w++];
            os << "  " << lineTag(word.line) << " skipped \"" << word.text
               << "\" (not a keyword: " << keywordList() << ")\n";
            continue;
        }
        const TReadRecord& record = scan.records[k];
        os << "  " << lineTag(record.keyword.line) << " element " << k + 1 << ": ";
        if (const TElement* e = system[static_cast<int>(k)])
            os << elementKind(*e) << "  " << recordValues(*e) << "  radius " << number(e->radius);
        else
            os << record.keyword.text << " (not added by the library)";
        os << '\n';
        if (!record.complete()) {
            const auto& fields = kindForKeyword(record.keyword.text)->fields;
            os << "      the record is cut short: it has " << record.values.size() << " of "
               << record.expectedValues << " values; the missing ";
            for (std::size_t v = record.values.size(); v < fields.size(); ++v)
                os << (v == record.values.size() ? "" : ", ") << fields[v].description;
            os << (fields.size() - record.values.size() == 1 ? " stays 0\n" : " stay 0\n");
        }
        ++k;
    }
    if (static_cast<int>(scan.records.size()) != system.getSize())
        os << "  note: the library made " << system.getSize() << " elements of "
           << scan.records.size() << " records\n";
    for (const std::string& note : remarks(system)) os << "Note: " << note << '\n';

    os << "Read " << system.getSize() << (system.getSize() == 1 ? " element" : " elements");
    if (!scan.skipped.empty())
        os << ", skipped " << scan.skipped.size()
           << (scan.skipped.size() == 1 ? " word" : " words");
    if (scan.stopped)
        os << "; " << lineTag(scan.line) << " " << describeStop(scan)
           << (scan.atEnd ? "\n" : "; nothing after it was read\n");
    else
        os << "; the whole text was read\n";

    if (options.write) {
        if (options.precision > 0) std::cout.precision(options.precision);
        std::cout << system;
    }

    if (system.getSize() == 0 && !scan.stopped)
        throw ToolError(kExitInput, "'" + loaded.source.name + "' holds no optical element");
    if (scan.stopped) {
        const int status = system.getSize() == 0 ? kExitInput : kExitFailure;
        throw ToolError(status, readStopMessage(loaded.source.name, scan));
    }
}

}  // namespace

void addCheckCommand(CLI::App& app) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* command =
        app.add_subcommand("check", "Read a description or a prescription (.zmx, .json) and report "
                                    "what was found in it");
    addFileArgument(*command, options->file);
    command->add_flag("--write", options->write,
                      "Print the description as the library writes it (the report goes to "
                      "standard error)");
    allow(command->add_option("--precision", options->precision,
                              "Significant digits of the written numbers (default: 6)"),
          Allowed::whole(1, 17));
    addWavelengthOption(*command, options->wavelength,
                        "For a prescription (a .zmx or .json file): the wavelength of its "
                        "first-order data, in micrometres (default: its primary wavelength)");
    command->callback([options] { runCheck(*options); });
}

}  // namespace lumivex::cli
