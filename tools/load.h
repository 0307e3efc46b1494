// SPDX-License-Identifier: Apache-2.0
// Reading the description a command works on; what cannot be read is a
// ToolError (tool_error.h).
#ifndef LUMIVEX_TOOLS_LOAD_H
#define LUMIVEX_TOOLS_LOAD_H

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"
#include "tool_error.h"

namespace lumivex::cli {

// A description's text and the name it is reported under.
struct Description {
    std::string name;
    std::string text;
    bool builtin = false;
};

// The text of the named file, or the built-in example for an empty path.
// A file that does not exist or cannot be read is a ToolError naming it.
Description loadDescription(const std::string& path);

struct LoadedSystem {
    Description source;
    TReadReport report;  // empty for a lens file
    std::unique_ptr<TOpticalSystem> system;
    // For a lens file: what the import found; the system is moved out.
    std::unique_ptr<TLensFile> lens;
    // The wavelength to trace at, in the system's length unit: the one asked
    // for; else a lens file's primary wavelength; else kDefaultWavelength.
    double wavelength = 0.0;
};

// Whether the path names a .zmx lens file (the extension, in any case).
bool isLensFile(const std::string& path);

// Reads the description with the library, keeping its report; a .zmx file
// is imported instead. `wavelength` is the -w option in the system's length
// unit, NaN when it was not given: a lens file's glasses are then taken at
// its primary wavelength. A file the import refuses is a ToolError in one
// line that names it.
LoadedSystem readSystem(const std::string& path,
                        double wavelength = std::numeric_limits<double>::quiet_NaN());
// describeStop's words after "FILE:LINE:COLUMN: ".
std::string readStopMessage(const std::string& name, const TReadReport& report);
// As readSystem, but a description that holds no element or whose reading
// stopped early is a ToolError: the tracing commands need a whole system.
LoadedSystem loadSystem(const std::string& path,
                        double wavelength = std::numeric_limits<double>::quiet_NaN());

// A lens as its designer defined it: a .zmx lens file imported whole into a
// prescription, or a prescription's .json file.
struct LoadedPrescription {
    Description source;
    TPrescription lens;
    std::vector<TZmxItem> skipped;   // a .zmx file's keywords that change no ray path
    std::vector<std::string> notes;  // what the import decided
};

// Whether the path names a prescription the analyses take whole: a .zmx
// lens file or a .json prescription (the extension, in any case).
bool isPrescriptionFile(const std::string& path);
// Reads it; a file that cannot be read or is refused is a ToolError in one
// line that names it.
LoadedPrescription loadPrescription(const std::string& path);

// Runs an analysis of the library; its xmsg leaves as a ToolError, the work
// itself having failed, in the first meaningful line of its message.
template <class F>
auto analysed(F&& f) {
    try {
        return f();
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, failureSummary(e.message()));
    }
}

// Whether an output path names standard output ("-").
bool isStandardOutput(const std::string& path);
// Writes text to a file, or throws a ToolError naming it.
void writeFile(const std::string& path, const std::string& text);
// Writes text to standard output for "-", else to the file.
void writeOutput(const std::string& path, const std::string& text);

}  // namespace lumivex::cli

#endif
