// SPDX-License-Identifier: Apache-2.0
// The subcommands of the lumivex tool. Each adds itself to the application
// and runs from its callback; failures leave as ToolError.
#ifndef LUMIVEX_TOOLS_COMMANDS_H
#define LUMIVEX_TOOLS_COMMANDS_H

namespace CLI {
class App;
}

namespace lumivex::cli {

void addTraceCommand(CLI::App& app);
void addDrawCommand(CLI::App& app);
void addFieldCommand(CLI::App& app);
void addCheckCommand(CLI::App& app);
void addSpotCommand(CLI::App& app);
void addFanCommand(CLI::App& app);
void addImportCommand(CLI::App& app);
void addPsfCommand(CLI::App& app);
void addMtfCommand(CLI::App& app);
void addOptimizeCommand(CLI::App& app);
void addIrradianceCommand(CLI::App& app);
void addColourCommand(CLI::App& app);
void addFieldCurvesCommand(CLI::App& app);
void addCoupleCommand(CLI::App& app);

}  // namespace lumivex::cli

#endif
