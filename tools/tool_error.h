// SPDX-License-Identifier: Apache-2.0
// How the tool leaves when it cannot go on: a ToolError says why in one
// line, with an exit status. Every part of the tool throws it; only main
// catches it.
#ifndef LUMIVEX_TOOLS_TOOL_ERROR_H
#define LUMIVEX_TOOLS_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace lumivex::cli {

// Exit statuses.
constexpr int kExitFailure = 1;  // the work itself failed
constexpr int kExitInput = 2;    // a file or the command line is unusable

// An error reported in one line on standard error before the tool exits
// with `status`.
class ToolError : public std::runtime_error {
public:
    ToolError(int status, const std::string& message)
        : std::runtime_error(message), exitStatus(status) {}
    int status() const { return exitStatus; }

private:
    int exitStatus;
};

}  // namespace lumivex::cli

#endif
