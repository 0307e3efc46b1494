// The reader of the system description. It sits above the element kinds it
// knows ("Slab", "Lens", "GrinRod"): each record body is read by the element
// class itself into a scratch element whose fields start at 0, and the
// element added to the system is built from the values read.
#include <istream>
#include <memory>
#include <string>

#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

namespace lumivex {

namespace {

std::unique_ptr<TElement> readSlab(std::istream& is) {
    TSlab scratch(0.0, complex(0.0, 0.0));
    scratch.read(is);
    return std::make_unique<TSlab>(scratch.zPosition, scratch.refIndex);
}

std::unique_ptr<TElement> readLens(std::istream& is) {
    TLens scratch(0.0, complex(0.0, 0.0), 0.0, 0.0, 0.0);
    scratch.read(is);
    // Built anew so that the shape is derived from the values read; the
    // imaginary part of the index is dropped.
    return std::make_unique<TLens>(scratch.zPosition, complex(scratch.refIndex.real(), 0.0),
                                   scratch.heightModulus, scratch.secondIndex,
                                   scratch.vertexLength);
}

std::unique_ptr<TElement> readGrinRod(std::istream& is) {
    TGrinRod scratch;
    scratch.read(is);
    return std::make_unique<TGrinRod>(scratch.zPosition, scratch.n0, scratch.g, scratch.h4,
                                      scratch.h6);
}

}  // namespace

std::istream& TOpticalSystem::operator>>(std::istream& is) {
    std::string word;
    is >> word;  // the header; any word is accepted
    double radius = 0.0;
    if (is >> radius) defaultRadius = radius;
    is >> word;
    // End of file alone does not end the loop: a last record that ends the
    // text is still added; a failed extraction does.
    while (!is.fail() && !is.bad()) {
        std::unique_ptr<TElement> element;
        if (word == "Slab") {
            element = readSlab(is);
        } else if (word == "Lens") {
            element = readLens(is);
        } else if (word == "GrinRod") {
            element = readGrinRod(is);
        }
        if (element) {
            addElement(element.get());
            element.release();
        }
        is >> word;
    }
    return is;
}

}  // namespace lumivex
