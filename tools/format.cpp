// SPDX-License-Identifier: Apache-2.0
#include "format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace lumivex::cli {

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

std::string number(double value, int digits) {
    if (value == 0.0) value = 0.0;  // no "-0"
    return format("%.*g", digits, value);
}

std::string fixed(double value, int decimals) {
    if (value == 0.0) value = 0.0;
    return format("%.*f", decimals, value);
}

void TextTable::addColumn(std::string heading, bool left) {
    headings.push_back(std::move(heading));
    leftAligned.push_back(left);
}

void TextTable::addRow(std::vector<std::string> cells) { rows.push_back(std::move(cells)); }

void TextTable::print(std::ostream& os, const std::string& indent) const {
    std::vector<std::size_t> widths(headings.size(), 0);
    for (std::size_t c = 0; c < headings.size(); ++c) widths[c] = headings[c].size();
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    printRow(os, indent, headings, widths);
    for (const auto& row : rows) printRow(os, indent, row, widths);
}

void TextTable::printRow(std::ostream& os, const std::string& indent,
                         const std::vector<std::string>& row,
                         const std::vector<std::size_t>& widths) const {
    std::string line = indent;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        const std::string cell = c < row.size() ? row[c] : std::string();
        const std::string pad(widths[c] - cell.size(), ' ');
        if (c > 0) line += "  ";
        const bool last = c + 1 == widths.size();
        line += leftAligned[c] ? cell + (last ? std::string() : pad) : pad + cell;
    }
    os << line << '\n';
}

}  // namespace lumivex::cli
