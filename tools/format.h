// SPDX-License-Identifier: Apache-2.0
// Numbers and tables as the tool prints them.
#ifndef LUMIVEX_TOOLS_FORMAT_H
#define LUMIVEX_TOOLS_FORMAT_H

#include <ostream>
#include <string>
#include <vector>

namespace lumivex::cli {

// printf-style formatting into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A number in %.*g, as a person reads it.
std::string number(double value, int digits = 6);
// A number with a fixed count of decimals, never "-0.000".
std::string fixed(double value, int decimals);

// A plain-text table with columns sized to their contents.
class TextTable {
public:
    // A column whose cells are right-aligned unless `left`.
    void addColumn(std::string heading, bool left = false);
    void addRow(std::vector<std::string> cells);
    void print(std::ostream& os, const std::string& indent = "  ") const;

private:
    void printRow(std::ostream& os, const std::string& indent, const std::vector<std::string>& row,
                  const std::vector<std::size_t>& widths) const;

    std::vector<std::string> headings;
    std::vector<bool> leftAligned;
    std::vector<std::vector<std::string>> rows;
};

}  // namespace lumivex::cli

#endif
