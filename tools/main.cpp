// SPDX-License-Identifier: Apache-2.0
// lumivex: trace, draw, check and import optical systems from the command line.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <new>

#include "commands.h"
#include "load.h"
#include "lumivex/analysis.h"

int main(int argc, char** argv) {
    using namespace lumivex::cli;
    CLI::App app{
        "Trace rays through optical systems described in the lumivex text format.\n"
        "Every command takes an optional description FILE or a .zmx lens file;\n"
        "without one it uses a built-in example (a plano-convex singlet and a\n"
        "quarter-pitch GRIN rod). lumivex import writes a .zmx file as a description."};
    app.name("lumivex");
    app.require_subcommand(1);
    addTraceCommand(app);
    addDrawCommand(app);
    addFieldCommand(app);
    addCheckCommand(app);
    addSpotCommand(app);
    addFanCommand(app);
    addPsfCommand(app);
    addMtfCommand(app);
    addColourCommand(app);
    addFieldCurvesCommand(app);
    addCoupleCommand(app);
    addImportCommand(app);
    addOptimizeCommand(app);
    addIrradianceCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : kExitInput;
    } catch (const ToolError& e) {
        std::cerr << "lumivex: " << e.what() << '\n';
        return e.status();
    } catch (const lumivex::xmsg& e) {
        // Anything the library reports that a command did not expect.
        std::cerr << "lumivex: " << lumivex::failureSummary(e.message()) << '\n';
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        // A sampled field or a fan far larger than memory; the host ends in
        // words rather than in an abort.
        std::cerr << "lumivex: out of memory\n";
        return kExitFailure;
    } catch (const std::exception& e) {
        std::cerr << "lumivex: " << e.what() << '\n';
        return kExitFailure;
    }
    return 0;
}
