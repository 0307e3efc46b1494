// lumivex: trace, draw and check optical systems from the command line.
#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"
#include "common.h"

int main(int argc, char** argv) {
    using namespace lumivex::cli;
    CLI::App app{
        "Trace rays through optical systems described in the lumivex text format.\n"
        "Every command takes an optional description FILE; without one it uses a\n"
        "built-in example (a plano-convex singlet and a quarter-pitch GRIN rod)."};
    app.name("lumivex");
    app.require_subcommand(1);
    addTraceCommand(app);
    addDrawCommand(app);
    addFieldCommand(app);
    addCheckCommand(app);

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
        std::cerr << "lumivex: " << failureSummary(e.message()) << '\n';
        return kExitFailure;
    }
    return 0;
}
