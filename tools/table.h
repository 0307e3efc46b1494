// Plain-text tables with columns sized to their contents.
#ifndef LUMIVEX_TOOLS_TABLE_H
#define LUMIVEX_TOOLS_TABLE_H

#include <ostream>
#include <string>
#include <vector>

namespace lumivex::cli {

class TextTable {
public:
    // A column whose cells are right-aligned unless `left`.
    void addColumn(std::string heading, bool left = false) {
        headings.push_back(std::move(heading));
        leftAligned.push_back(left);
    }
    void addRow(std::vector<std::string> cells) { rows.push_back(std::move(cells)); }

    void print(std::ostream& os, const std::string& indent = "  ") const {
        std::vector<std::size_t> widths(headings.size(), 0);
        for (std::size_t c = 0; c < headings.size(); ++c) widths[c] = headings[c].size();
        for (const auto& row : rows)
            for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
                widths[c] = std::max(widths[c], row[c].size());
        printRow(os, indent, headings, widths);
        for (const auto& row : rows) printRow(os, indent, row, widths);
    }

private:
    void printRow(std::ostream& os, const std::string& indent, const std::vector<std::string>& row,
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

    std::vector<std::string> headings;
    std::vector<bool> leftAligned;
    std::vector<std::vector<std::string>> rows;
};

}  // namespace lumivex::cli

#endif
