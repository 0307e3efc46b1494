// SPDX-License-Identifier: Apache-2.0
// Element records read and written through the catalogue's field lists. The
// record methods of the classes that have one are defined here rather than
// beside their geometry: the record is the catalogue's, one layer above.
#include "description/records.h"

#include <istream>
#include <ostream>

#include "lumivex/grin.h"
#include "lumivex/surfaces.h"

namespace lumivex {

namespace detail {

bool readFieldValue(std::istream& is, const TRecordField& field, complex& value) {
    if (field.isIndex) {
        complex n;
        if (!(is >> n)) return false;
        value = n;
    } else {
        double v;
        if (!(is >> v)) return false;
        value = v;
    }
    return true;
}

std::ostream& writeRecord(std::ostream& os, const TElementKind& kind, const TElement& element) {
    os << kind.keyword;
    for (const TRecordField& field : kind.fields) os << '\t' << field.get(element).real();
    return os;
}

std::istream& readRecord(std::istream& is, const TElementKind& kind, TElement& element) {
    complex value;
    for (const TRecordField& field : kind.fields) {
        if (!readFieldValue(is, field, value)) break;
        field.set(element, value);
    }
    return is;
}

}  // namespace detail

namespace {

const TElementKind& recordKind(const char* keyword) { return *kindForKeyword(keyword); }

}  // namespace

std::ostream& TSlab::write(std::ostream& os) const {
    return detail::writeRecord(os, recordKind("Slab"), *this);
}
std::istream& TSlab::read(std::istream& is) {
    return detail::readRecord(is, recordKind("Slab"), *this);
}

std::ostream& TLens::write(std::ostream& os) const {
    return detail::writeRecord(os, recordKind("Lens"), *this);
}
// The shape is not re-derived: a host reading into a lens builds a new one
// from the values, as the description reader does.
std::istream& TLens::read(std::istream& is) {
    return detail::readRecord(is, recordKind("Lens"), *this);
}

std::ostream& TGeneralLens::write(std::ostream& os) const {
    return detail::writeRecord(os, recordKind("GeneralLens"), *this);
}

std::ostream& TEvenAsphere::write(std::ostream& os) const {
    return detail::writeRecord(os, recordKind("EvenAsphere"), *this);
}
std::istream& TEvenAsphere::read(std::istream& is) {
    return detail::readRecord(is, recordKind("EvenAsphere"), *this);
}

std::ostream& TGrinRod::write(std::ostream& os) const {
    return detail::writeRecord(os, recordKind("GrinRod"), *this);
}
std::istream& TGrinRod::read(std::istream& is) {
    return detail::readRecord(is, recordKind("GrinRod"), *this);
}

}  // namespace lumivex
