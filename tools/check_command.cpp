// lumivex check: reads a description and says exactly what the reader made
// of it: the elements with their values, the words it skipped, and where
// reading stopped if it did.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>

#include "commands.h"
#include "common.h"

namespace lumivex::cli {

namespace {

struct CheckOptions {
    std::string file;
    bool write = false;
    int precision = 0;
};

std::string lineTag(int line) { return "line " + std::to_string(line) + ":"; }

// The values of an element as the library holds them, in record order.
std::string recordValues(const TElement& e) {
    if (const auto* lens = dynamic_cast<const TLens*>(&e))
        return "z=" + number(e.zPosition) + " n=" + number(lens->refIndex.real()) +
               " secondIndex=" + number(lens->secondIndex) +
               " vertexLength=" + number(lens->vertexLength) +
               " heightModulus=" + number(lens->heightModulus) + "  (curvature radius " +
               number(lens->curvatureRadius) + ", conic constant " + number(lens->conicConstant) +
               ")";
    if (const auto* rod = dynamic_cast<const TGrinRod*>(&e))
        return "z=" + number(e.zPosition) + " n0=" + number(rod->n0) + " g=" + number(rod->g) +
               " h4=" + number(rod->h4) + " h6=" + number(rod->h6);
    if (const auto* surface = dynamic_cast<const TSurface*>(&e)) {
        const complex n = surface->refIndex;
        return "z=" + number(e.zPosition) + " n=" +
               (n.imag() == 0.0 ? number(n.real())
                                : "(" + number(n.real()) + "," + number(n.imag()) + ")");
    }
    return "z=" + number(e.zPosition);
}

// Things a reader accepts that are probably not what the author meant.
std::vector<std::string> remarks(const TOpticalSystem& system) {
    std::vector<std::string> notes;
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& e = *system[i];
        const std::string which = "element " + std::to_string(i + 1) + " (" + elementKind(e) + ")";
        if (i > 0 && e.zPosition < system[i - 1]->zPosition)
            notes.push_back(which +
                            " lies in front of the element before it; light meets "
                            "elements in the order they are listed");
        if (const auto* lens = dynamic_cast<const TLens*>(&e)) {
            if (lens->secondIndex == 0.0)
                notes.push_back(which +
                                " has second index 0, so its conic constant is not "
                                "finite and rays through it fail");
            if (lens->vertexLength == 0.0)
                notes.push_back(which + " has vertex length 0: a flat surface");
        }
        if (const auto* rod = dynamic_cast<const TGrinRod*>(&e)) {
            if (!(rod->n0 > 0.0)) notes.push_back(which + " has an axial index n0 of at most 0");
            if (rod->g > 0.0 && e.getRadius() > 1.0 / rod->g && rod->h4 == 0.0 && rod->h6 == 0.0)
                notes.push_back(which +
                                " has no real index beyond r = 1/g = " + number(1.0 / rod->g) +
                                ", inside its radius " + number(e.getRadius()));
        }
    }
    return notes;
}

void runCheck(const CheckOptions& options) {
    LoadedSystem loaded = readSystem(options.file);
    const DescriptionScan& scan = loaded.scan;
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

    // The scan and the library read the same text with the same
    // extractions, so record k is element k. Records and skipped words are
    // listed in the order of the text.
    std::size_t k = 0, w = 0;
    auto before = [](const ScannedWord& a, const ScannedWord& b) {
        return a.line < b.line || (a.line == b.line && a.column < b.column);
    };
    while (k < scan.records.size() || w < scan.skipped.size()) {
        if (w < scan.skipped.size() &&
            (k == scan.records.size() || before(scan.skipped[w], scan.records[k].keyword))) {
            const ScannedWord& word = scan.skipped[w++];
            os << "  " << lineTag(word.line) << " skipped \"" << word.text
               << "\" (not a keyword: Slab, Lens, GrinRod)\n";
            continue;
        }
        const ScannedRecord& record = scan.records[k];
        os << "  " << lineTag(record.keyword.line) << " element " << k + 1 << ": ";
        if (const TElement* e = system[static_cast<int>(k)])
            os << elementKind(*e) << "  " << recordValues(*e) << "  radius " << number(e->radius);
        else
            os << record.keyword.text << " (not added by the library)";
        os << '\n';
        if (!record.complete()) {
            const auto& names = recordValueNames(record.keyword.text);
            os << "      the record is cut short: it has " << record.values.size() << " of "
               << record.expectedValues << " values; the missing ";
            for (std::size_t v = record.values.size(); v < names.size(); ++v)
                os << (v == record.values.size() ? "" : ", ") << names[v];
            os << (names.size() - record.values.size() == 1 ? " stays 0\n" : " stay 0\n");
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
        os << "; " << lineTag(scan.stop.line) << " " << describeStop(scan.stop)
           << (scan.stop.atEnd ? "\n" : "; nothing after it was read\n");
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
        throw ToolError(status, readStopMessage(loaded.source.name, scan.stop));
    }
}

}  // namespace

void addCheckCommand(CLI::App& app) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* command =
        app.add_subcommand("check", "Read a description and report what was found in it");
    command->add_option("FILE", options->file,
                        "System description (default: the built-in example)");
    command->add_flag("--write", options->write,
                      "Print the description as the library writes it (the report goes to "
                      "standard error)");
    command
        ->add_option("--precision", options->precision,
                     "Significant digits of the written numbers (default: 6)")
        ->check(CLI::Range(1, 17));
    command->callback([options] { runCheck(*options); });
}

}  // namespace lumivex::cli
