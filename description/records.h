// SPDX-License-Identifier: Apache-2.0
// The one reader and writer of element records, driven by the catalogue's
// field lists: the description reader, the system's writer and the classes'
// read and write all come here.
#ifndef LUMIVEX_DESCRIPTION_RECORDS_H
#define LUMIVEX_DESCRIPTION_RECORDS_H

#include <iosfwd>

#include "lumivex/description.h"

namespace lumivex::detail {

// Extracts one field's value: a complex index ("1.5", "(1.5)",
// "(1.5,0.01)") or a real number. On failure the stream is failed and
// `value` is left as it was.
bool readFieldValue(std::istream& is, const TRecordField& field, complex& value);

// The keyword and then every field's value, each after a tab, as the
// stream's precision writes a double; an index field writes its real part.
std::ostream& writeRecord(std::ostream& os, const TElementKind& kind, const TElement& element);

// Reads a record body (the values after the keyword) into the element,
// field by field; a field takes its value only when its extraction
// succeeds, and reading stops at the first that fails, so a record cut
// short keeps the element's own values for the rest. Nothing is derived.
std::istream& readRecord(std::istream& is, const TElementKind& kind, TElement& element);

}  // namespace lumivex::detail

#endif
