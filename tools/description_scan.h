// A second reading of a system description that remembers where every word
// came from. The library's reader is silent by design: it stops at the first
// extraction that fails and leaves the stream failed. This pass performs the
// same extractions in the same order on the same text, so it stops where the
// library stops, and it can say on which line and at which word.
#ifndef LUMIVEX_TOOLS_DESCRIPTION_SCAN_H
#define LUMIVEX_TOOLS_DESCRIPTION_SCAN_H

#include <string>
#include <vector>

namespace lumivex::cli {

// A piece of the text and where it starts (lines and columns count from 1).
struct ScannedWord {
    std::string text;
    int line = 0;
    int column = 0;
};

// One element record: its keyword and the values extracted after it.
struct ScannedRecord {
    ScannedWord keyword;
    std::vector<ScannedWord> values;  // the values read, in record order
    int expectedValues = 0;           // how many a whole record has
    bool complete() const { return static_cast<int>(values.size()) == expectedValues; }
};

// Where the reader stopped before the end of the text, if it did.
struct ReadStop {
    int line = 0;
    int column = 0;
    std::string word;      // the whitespace-delimited word at the stop; empty at the end
    std::string fromHere;  // the part of `word` the failing extraction began at
    std::string expected;  // what the reader was extracting, e.g. "the z position of the Slab"
    bool atEnd = false;    // the text ended before the value
};

struct DescriptionScan {
    bool hasHeader = false;
    ScannedWord header;
    bool hasRadius = false;
    ScannedWord radius;
    std::vector<ScannedRecord> records;
    std::vector<ScannedWord> skipped;  // words the reader passed over
    bool stopped = false;              // reading ended at a failed extraction
    ReadStop stop;
};

// The value names of a record kind, in record order; empty for a word that
// is not a keyword.
const std::vector<std::string>& recordValueNames(const std::string& keyword);

DescriptionScan scanDescription(const std::string& text);

}  // namespace lumivex::cli

#endif
