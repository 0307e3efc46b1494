// SPDX-License-Identifier: Apache-2.0
// The element catalogue and the reader of system descriptions.
//
// Every element kind the library provides has one catalogue entry. The entry
// knows the kind's name, its description keyword and record fields (for the
// kinds that have a record), how to build an element from a record's values,
// how to copy one, and how to describe one as name/value pairs. The reader,
// the command-line tool and the Python bindings ask the catalogue; nothing
// else needs to know the concrete classes. A new element kind is its class
// and one entry in description/catalogue.cpp; a kind with a record lists its
// fields there, and one reader and one writer (description/records.cpp)
// read and write every record from those lists.
#ifndef LUMIVEX_DESCRIPTION_H
#define LUMIVEX_DESCRIPTION_H

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/numeric.h"
#include "lumivex/system.h"

namespace lumivex {

namespace detail {
struct KernelShape;  // description/kernel_shape.h
struct RodProfile;
}

// One field of a description record, in record order.
struct TRecordField {
    std::string key;          // short name, as the tool prints it: "z", "n", "secondIndex"
    std::string description;  // in words: "z position", "refractive index"
    bool isIndex = false;     // read as a complex index ("1.5", "(1.5)" or "(1.5,0.01)")
    // The index of a medium: the reader refuses a value whose real part is
    // not positive, since the transmittance formulas hold only for such media.
    bool positive = false;
    // The field's value in an element of the kind (or of a class derived
    // from it), and the assignment of a value read into one. The record's
    // writer, the classes' read and recordValues all go through these.
    std::function<complex(const TElement&)> get;
    std::function<void(TElement&, const complex&)> set;
};

// A named value of an element; complex only for a refractive index.
struct TElementParameter {
    std::string name;
    complex value;
};

struct LUMIVEX_API TElementKind {
    std::string name;                  // the class name without its T: "Slab", "SphericalLens"
    std::string keyword;               // the description keyword; empty: the kind has no record
    std::vector<TRecordField> fields;  // the record's fields, in order
    bool gradientIndex = false;        // the medium in front of the element is a GRIN medium
    bool surface = false;              // a refracting surface, which has an outline
    // The medium in front of an element of exactly this class has one index
    // everywhere (getRefIndex does not depend on the point), so a surface
    // refracting into it can take that index once for all its rays.
    bool constantIndex = false;

    // Whether the element is of this kind or derived from it.
    std::function<bool(const TElement&)> is;
    // Whether the element is exactly of this class (not a host's subclass).
    std::function<bool(const TElement&)> isExactly;
    // A copy of an element of exactly this class, radii and working state
    // included.
    std::function<std::unique_ptr<TElement>(const TElement&)> clone;
    // Builds an element from one value per record field (a field a record
    // lacks is 0). Empty for kinds without a record.
    std::function<std::unique_ptr<TElement>(const std::vector<complex>&)> make;
    // The record's values of an element of this kind, in field order (each
    // field's get).
    std::function<std::vector<complex>(const TElement&)> recordValues;
    // The element's parameters as a person reads them ("n", "R", "conic").
    std::function<std::vector<TElementParameter>(const TElement&)> parameters;
    // Quantities the record implies but does not hold ("curvature radius").
    std::function<std::vector<TElementParameter>(const TElement&)> derived;
    // Values the reader accepts that are probably not what the author meant,
    // each a phrase to follow "element k (Kind) ".
    std::function<std::vector<std::string>(const TElement&)> remarks;
    // For an element of exactly this class: whether the batch trace's vector
    // kernels carry rays through it, and the shape they evaluate. Empty for
    // kinds that are traced ray by ray.
    std::function<bool(const TElement&, detail::KernelShape&)> kernelShape;
    // For an element of exactly this class: whether it is a rod whose
    // profile the rod kernel integrates, and the profile.
    std::function<bool(const TElement&, detail::RodProfile&)> rodProfile;
};

// Every kind, most derived first: the first entry whose `is` holds is the
// nearest kind of an element.
LUMIVEX_API const std::vector<TElementKind>& elementKinds();
// The kind with this description keyword, or null.
LUMIVEX_API const TElementKind* kindForKeyword(const std::string& keyword);
// The nearest kind of the element (its own class or the library class it is
// derived from), or null for a plain TElement or a host's direct subclass.
LUMIVEX_API const TElementKind* kindOf(const TElement& element);
// The kind whose class the element is exactly, or null for a plain TElement
// or any class of a host's own.
LUMIVEX_API const TElementKind* exactKindOf(const TElement& element);
// A copy of the element when its class is exactly one of the catalogue's,
// otherwise null.
LUMIVEX_API std::unique_ptr<TElement> cloneElement(const TElement& element);

// A piece of description text and where it starts (lines and columns count
// from 1).
struct TReadWord {
    std::string text;
    int line = 0;
    int column = 0;
};

// One element record as read: its keyword and the values extracted after it.
struct TReadRecord {
    TReadWord keyword;
    std::vector<TReadWord> values;  // the values read, in record order
    int expectedValues = 0;         // how many a whole record has
    bool complete() const { return static_cast<int>(values.size()) == expectedValues; }
};

// What the reader made of a description, for hosts that tell their users.
struct TReadReport {
    bool hasHeader = false;
    TReadWord header;
    bool hasRadius = false;
    TReadWord radius;
    std::vector<TReadRecord> records;  // record k became element k of those added
    std::vector<TReadWord> skipped;    // words that are not keywords, passed over
    int elementsAdded = 0;

    // Where reading stopped before the end of the text, if it did.
    bool stopped = false;
    int line = 0;
    int column = 0;
    std::string word;      // the whitespace-delimited word at the stop; empty at the end
    std::string fromHere;  // the part of `word` the failing extraction began at
    std::string expected;  // what was being read: "the z position of the Slab record"
    bool atEnd = false;    // the text ended before the value
};

// Reads a description and appends its elements to the system, exactly as
// `is >> system` does (which is built on it): the header word, the default
// radius, then records until an extraction fails. With a report, also
// records where every word came from and where reading stopped; to name the
// word at a stop, the rest of that word is consumed from the stream.
LUMIVEX_API std::istream& readDescription(std::istream& is, TOpticalSystem& system,
                                          TReadReport* report = nullptr);

// "reading stopped at word "x", which is not the ..." or "the text ends
// where ... should be", for a report that stopped.
LUMIVEX_API std::string describeStop(const TReadReport& report);
// A stop in a text read from `source` as an error at its place:
// "source:line:column: " and describeStop's words.
LUMIVEX_API xmsg stopError(const TReadReport& report, const std::string& source);

}  // namespace lumivex

#endif
