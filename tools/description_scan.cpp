#include "description_scan.h"

#include <algorithm>
#include <cctype>
#include <complex>
#include <sstream>

namespace lumivex::cli {

namespace {

enum class ValueType { Real, Index };

struct RecordLayout {
    std::vector<std::string> names;
    std::vector<ValueType> types;
};

// The records as the element classes read them: doubles, and the index as
// a complex number ("1.5", "(1.5)" or "(1.5,0.01)").
const RecordLayout* layoutFor(const std::string& keyword) {
    static const RecordLayout slab{{"z position", "refractive index"},
                                   {ValueType::Real, ValueType::Index}};
    static const RecordLayout lens{
        {"z position", "refractive index", "second index", "vertex length", "height modulus"},
        {ValueType::Real, ValueType::Index, ValueType::Real, ValueType::Real, ValueType::Real}};
    static const RecordLayout rod{
        {"z position", "n0", "g", "h4", "h6"},
        {ValueType::Real, ValueType::Real, ValueType::Real, ValueType::Real, ValueType::Real}};
    if (keyword == "Slab") return &slab;
    if (keyword == "Lens") return &lens;
    if (keyword == "GrinRod") return &rod;
    return nullptr;
}

// Follows an istringstream over the text and maps offsets to lines.
class Cursor {
public:
    explicit Cursor(const std::string& text) : text(text), is(text) {
        lineStarts.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') lineStarts.push_back(i + 1);
    }

    // Skips white space as the next formatted extraction would and returns
    // the offset where that extraction starts. The buffer is asked directly,
    // because tellg() on a stream at its end would fail the stream.
    std::size_t skipSpace() {
        if (is.good()) is >> std::ws;
        return offset();
    }
    std::size_t offset() {
        if (is.bad()) return text.size();
        const std::streamoff pos = is.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
        return pos < 0 ? text.size() : std::min(text.size(), static_cast<std::size_t>(pos));
    }

    ScannedWord wordAt(std::size_t begin, std::size_t end) const {
        ScannedWord w;
        w.text = text.substr(begin, end - begin);
        locate(begin, w.line, w.column);
        return w;
    }
    void locate(std::size_t offset, int& line, int& column) const {
        const auto it = std::upper_bound(lineStarts.begin(), lineStarts.end(), offset);
        const std::size_t index = static_cast<std::size_t>(it - lineStarts.begin()) - 1;
        line = static_cast<int>(index) + 1;
        column = static_cast<int>(offset - lineStarts[index]) + 1;
    }

    ReadStop stopAt(std::size_t begin, const std::string& expected) const {
        ReadStop stop;
        stop.expected = expected;
        if (begin >= text.size()) {
            // The line of the text's last word, not of the blank after it.
            stop.atEnd = true;
            const std::size_t last = text.find_last_not_of(" \t\r\n\f\v");
            locate(last == std::string::npos ? 0 : last, stop.line, stop.column);
            return stop;
        }
        // The word around the offset: an extraction that consumed part of a
        // word ("1.5x") stops in its middle.
        auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
        std::size_t first = begin;
        while (first > 0 && !isSpace(text[first - 1])) --first;
        std::size_t last = begin;
        while (last < text.size() && !isSpace(text[last])) ++last;
        stop.word = text.substr(first, last - first);
        stop.fromHere = text.substr(begin, last - begin);
        locate(first, stop.line, stop.column);
        return stop;
    }

    const std::string& text;
    std::istringstream is;

private:
    std::vector<std::size_t> lineStarts;
};

}  // namespace

const std::vector<std::string>& recordValueNames(const std::string& keyword) {
    static const std::vector<std::string> none;
    const RecordLayout* layout = layoutFor(keyword);
    return layout ? layout->names : none;
}

DescriptionScan scanDescription(const std::string& text) {
    DescriptionScan scan;
    Cursor cursor(text);
    std::istream& is = cursor.is;

    // The header word; its content is not examined.
    std::size_t begin = cursor.skipSpace();
    std::string word;
    if (is >> word) {
        scan.hasHeader = true;
        scan.header = cursor.wordAt(begin, cursor.offset());
    } else {
        scan.stopped = true;
        scan.stop = cursor.stopAt(begin, "the header word");
        return scan;
    }

    begin = cursor.skipSpace();
    double defaultRadius = 0.0;
    if (is >> defaultRadius) {
        scan.hasRadius = true;
        scan.radius = cursor.wordAt(begin, cursor.offset());
    } else {
        scan.stopped = true;
        scan.stop = cursor.stopAt(begin, "the default radius");
        return scan;
    }

    // Keywords and records until a word cannot be extracted, which at the
    // end of the text is the normal way out.
    begin = cursor.skipSpace();
    is >> word;
    while (!is.fail() && !is.bad()) {
        const ScannedWord keyword = cursor.wordAt(begin, cursor.offset());
        const RecordLayout* layout = layoutFor(word);
        if (!layout) {
            scan.skipped.push_back(keyword);
        } else {
            ScannedRecord record;
            record.keyword = keyword;
            record.expectedValues = static_cast<int>(layout->names.size());
            for (std::size_t v = 0; v < layout->names.size(); ++v) {
                const std::size_t valueBegin = cursor.skipSpace();
                bool ok;
                if (layout->types[v] == ValueType::Real) {
                    double value;
                    ok = static_cast<bool>(is >> value);
                } else {
                    std::complex<double> value;
                    ok = static_cast<bool>(is >> value);
                }
                if (!ok) {
                    scan.stopped = true;
                    scan.stop = cursor.stopAt(
                        valueBegin, "the " + layout->names[v] + " of the " + word + " record");
                    break;
                }
                record.values.push_back(cursor.wordAt(valueBegin, cursor.offset()));
            }
            // A cut-short record still becomes an element.
            scan.records.push_back(record);
            if (scan.stopped) return scan;
        }
        begin = cursor.skipSpace();
        is >> word;
    }
    return scan;
}

}  // namespace lumivex::cli
