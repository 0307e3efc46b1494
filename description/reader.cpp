// SPDX-License-Identifier: Apache-2.0
// The reader of system descriptions: a header word, the default radius, then
// records ("Slab", "Lens", "GrinRod", ... as the catalogue knows them) until
// an extraction fails. Words that are not keywords are passed over. A record
// cut short still becomes an element, built from the values read and 0 for
// the rest.
//
// The same extractions run with or without a report. With one, the stream is
// read through a buffer that counts what each extraction consumes, so the
// report can say on which line and at which word everything was found.
#include <cctype>
#include <fstream>
#include <iomanip>
#include <istream>
#include <streambuf>
#include <string>

#include "description/records.h"
#include "lumivex/description.h"

namespace lumivex {

namespace {

bool isSpace(int c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A word longer than this ends the reading: a device such as /dev/zero is
// one endless word.
constexpr std::streamsize kLongestWord = 4096;

// Passes characters through from another buffer one at a time, counting the
// ones taken: its position, line and column, and the text of the current
// line so far.
class TrackingBuffer : public std::streambuf {
public:
    explicit TrackingBuffer(std::streambuf* source) : source(source) {}

    int line = 1;
    int column = 1;
    std::string lineSoFar;     // what was consumed of the current line
    std::string previousLine;  // the whole line before it
    int lastWordLine = 1;   // the line of the last non-blank character consumed
    int lastWordColumn = 1;

protected:
    int_type underflow() override { return source->sgetc(); }
    int_type uflow() override {
        const int_type c = source->sbumpc();
        if (!traits_type::eq_int_type(c, traits_type::eof())) take(traits_type::to_char_type(c));
        return c;
    }
    // std::complex's extraction puts back the character it looked at.
    int_type pbackfail(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()) || lineSoFar.empty())
            return traits_type::eof();
        const int_type r = source->sputbackc(traits_type::to_char_type(c));
        if (!traits_type::eq_int_type(r, traits_type::eof())) {
            lineSoFar.pop_back();
            --column;
        }
        return r;
    }

private:
    void take(char c) {
        if (c == '\n') {
            ++line;
            column = 1;
            previousLine.swap(lineSoFar);
            lineSoFar.clear();
            return;
        }
        if (!isSpace(c)) {
            lastWordLine = line;
            lastWordColumn = column;
        }
        lineSoFar += c;
        ++column;
    }

    std::streambuf* source;
};

// The part of a word that stands in the line before offset `at`.
std::string wordStartBefore(const std::string& line, std::size_t at) {
    std::size_t first = at;
    while (first > 0 && !isSpace(line[first - 1])) --first;
    return line.substr(first, at - first);
}

// A word as a report quotes it: a long one (a megabyte of digits) is cut, as
// the tool cuts the options it refuses.
constexpr std::size_t kQuotedWord = 40;

std::string quotedWord(const std::string& word) {
    if (word.size() <= kQuotedWord) return word;
    return word.substr(0, kQuotedWord - 4) + "...";
}

// The word from offset `at` of the line: up to the next white space.
std::string wordFrom(const std::string& line, std::size_t at) {
    std::size_t last = at;
    while (last < line.size() && !isSpace(line[last])) ++last;
    return line.substr(at, last - at);
}

// Notes where each extraction begins and what it consumed; without a
// report every call does nothing.
class Tracker {
public:
    Tracker(std::istream& in, TrackingBuffer* buffer) : in(in), buffer(buffer) {}

    bool active() const { return buffer != nullptr; }

    // Skips the white space the next extraction would skip and remembers
    // where it begins.
    void begin() {
        if (!buffer) return;
        if (in.good()) in >> std::ws;
        startLine = buffer->line;
        startColumn = buffer->column;
        startInLine = buffer->lineSoFar.size();
    }
    // What the extraction since begin() consumed, and where it started.
    TReadWord word() const {
        TReadWord w;
        if (!buffer) return w;
        w.line = startLine;
        w.column = startColumn;
        w.text = buffer->line == startLine ? buffer->lineSoFar.substr(startInLine) : std::string();
        return w;
    }
    // Fills in the stop for the extraction that began at begin() and failed.
    void stop(TReadReport& report, const std::string& expected) {
        report.stopped = true;
        report.expected = expected;
        const std::ios_base::iostate state = in.rdstate();
        in.clear();
        if (in.peek() == std::char_traits<char>::eof() && buffer->line == startLine &&
            buffer->lineSoFar.size() == startInLine) {
            // Nothing was left to read: name the line of the text's last word.
            report.atEnd = true;
            report.line = buffer->lastWordLine;
            report.column = buffer->lastWordColumn;
            in.setstate(state);
            return;
        }
        // The extraction may have stopped in the middle of a word ("1.5x"):
        // name the whole word, and the part it began at.
        const bool sameLine = buffer->line == startLine;
        std::string before;
        std::string fromHere;
        if (sameLine) {
            before = wordStartBefore(buffer->lineSoFar, startInLine);
            fromHere = buffer->lineSoFar.substr(startInLine);
            // The rest of the word, but not an endless one.
            std::streamsize taken = 0;
            for (int c = in.peek(); c != std::char_traits<char>::eof() && !isSpace(c) &&
                                    taken < kLongestWord;
                 c = in.peek(), ++taken) {
                in.get();
                if (fromHere.size() <= kQuotedWord) fromHere += static_cast<char>(c);
            }
        } else if (buffer->line == startLine + 1) {
            // An index's extraction looks past the end of its line for the
            // rest of "(1.5,0.01": name the word it began with.
            before = wordStartBefore(buffer->previousLine, startInLine);
            fromHere = wordFrom(buffer->previousLine, startInLine);
        }
        report.word = quotedWord(before + fromHere);
        report.fromHere = quotedWord(fromHere);
        report.line = startLine;
        report.column = startColumn - static_cast<int>(before.size());
        in.clear();
        in.setstate(state);
    }

private:
    std::istream& in;
    TrackingBuffer* buffer;
    int startLine = 1;
    int startColumn = 1;
    std::size_t startInLine = 0;
};

// Reads a word; false, with the stream failed, for one that is too long.
bool readWord(std::istream& in, std::string& word) {
    in >> std::setw(kLongestWord + 1) >> word;
    if (static_cast<std::streamsize>(word.size()) <= kLongestWord) return static_cast<bool>(in);
    in.setstate(std::ios_base::failbit);
    return false;
}

// Reads one record body of the kind into its values; returns whether every
// field was read.
bool readRecordBody(std::istream& in, Tracker& tracker, const TElementKind& kind,
                std::vector<complex>& values, TReadRecord* record, TReadReport* report) {
    values.assign(kind.fields.size(), complex(0.0, 0.0));
    for (std::size_t f = 0; f < kind.fields.size(); ++f) {
        tracker.begin();
        const bool ok = detail::readFieldValue(in, kind.fields[f], values[f]);
        if (ok && kind.fields[f].positive && !(values[f].real() > 0.0)) {
            // A medium of index 0 or less: the record is refused at this
            // word, as a value that is not a number is, so the report names
            // it; the field keeps the 0 of a value not read.
            values[f] = complex(0.0, 0.0);
            in.setstate(std::ios_base::failbit);
            if (report)
                tracker.stop(*report, "the " + kind.fields[f].description + " of the " +
                                          kind.keyword +
                                          " record (a number with a positive real part)");
            return false;
        }
        if (!ok) {
            if (report)
                tracker.stop(*report, "the " + kind.fields[f].description + " of the " +
                                          kind.keyword + " record");
            return false;
        }
        if (record) record->values.push_back(tracker.word());
    }
    return true;
}

std::istream& readInto(std::istream& in, TOpticalSystem& system, Tracker& tracker,
                       TReadReport* report) {
    std::string word;
    tracker.begin();
    if (readWord(in, word)) {
        if (report) {
            report->hasHeader = true;
            report->header = tracker.word();
        }
    } else if (report) {
        tracker.stop(*report, "the header word");
    }

    // The header's content is not examined; a radius that cannot be read
    // leaves the system's own, and the stream failed.
    tracker.begin();
    double radius = 0.0;
    if (in >> radius) {
        system.defaultRadius = radius;
        if (report) {
            report->hasRadius = true;
            report->radius = tracker.word();
        }
    } else if (report && !report->stopped) {
        tracker.stop(*report, "the default radius");
    }

    // The next keyword; a word too long for one stops the reading there.
    auto nextKeyword = [&] {
        tracker.begin();
        if (!readWord(in, word) && report && word.size() > static_cast<std::size_t>(kLongestWord))
            tracker.stop(*report, "a record keyword (no word is longer than " +
                                      std::to_string(kLongestWord) + " characters)");
    };
    nextKeyword();
    std::vector<complex> values;
    // End of file alone does not end the loop: a last record that ends the
    // text is still added; a failed extraction does.
    while (!in.fail() && !in.bad()) {
        const TReadWord keyword = tracker.word();
        if (const TElementKind* kind = kindForKeyword(word)) {
            TReadRecord* record = nullptr;
            if (report) {
                report->records.emplace_back();
                record = &report->records.back();
                record->keyword = keyword;
                record->expectedValues = static_cast<int>(kind->fields.size());
            }
            readRecordBody(in, tracker, *kind, values, record, report);
            std::unique_ptr<TElement> element = kind->make(values);
            system.addElement(element.get());
            element.release();
            if (report) ++report->elementsAdded;
        } else if (report) {
            report->skipped.push_back(keyword);
        }
        nextKeyword();
    }
    return in;
}

}  // namespace

std::istream& readDescription(std::istream& is, TOpticalSystem& system, TReadReport* report) {
    if (!report) {
        Tracker silent(is, nullptr);
        return readInto(is, system, silent, nullptr);
    }
    *report = TReadReport();
    TrackingBuffer buffer(is.rdbuf());
    std::istream in(&buffer);
    in.copyfmt(is);
    in.exceptions(std::ios_base::goodbit);
    in.setstate(is.rdstate());
    Tracker tracker(in, &buffer);
    readInto(in, system, tracker, report);
    is.setstate(in.rdstate());
    return is;
}

std::string describeStop(const TReadReport& report) {
    if (report.atEnd) return "the text ends where " + report.expected + " should be";
    std::string text = "reading stopped at word \"" + report.word + "\"";
    if (report.fromHere != report.word) text += " (at \"" + report.fromHere + "\")";
    return text + ", which is not " + report.expected;
}

xmsg stopError(const TReadReport& report, const std::string& source) {
    return xmsg(TSourceLocation{source, report.line, report.column, -1}, describeStop(report));
}

std::istream& TOpticalSystem::operator>>(std::istream& is) { return readDescription(is, *this); }

}  // namespace lumivex
