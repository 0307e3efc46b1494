// SPDX-License-Identifier: Apache-2.0
#include "elements.h"

#include "format.h"

namespace lumivex::cli {

namespace {

std::string indexOrNumber(const complex& value) {
    if (value.imag() == 0.0) return number(value.real());
    return "(" + number(value.real()) + "," + number(value.imag()) + ")";
}

}  // namespace

std::string elementKind(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    return kind ? kind->name : "Element";
}

std::string elementParameters(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    if (!kind) return "";
    std::string text;
    for (const TElementParameter& p : kind->parameters(e))
        text += (text.empty() ? "" : " ") + p.name + "=" + indexOrNumber(p.value);
    return text;
}

std::string recordValues(const TElement& e) {
    const TElementKind* kind = kindOf(e);
    if (!kind) return "z=" + number(e.zPosition);
    std::string text;
    const std::vector<complex> values = kind->recordValues(e);
    for (std::size_t f = 0; f < values.size(); ++f)
        text += (f ? " " : "") + kind->fields[f].key + "=" + indexOrNumber(values[f]);
    const std::vector<TElementParameter> derived = kind->derived(e);
    for (std::size_t d = 0; d < derived.size(); ++d)
        text += (d ? ", " : "  (") + derived[d].name + " " + indexOrNumber(derived[d].value);
    if (!derived.empty()) text += ")";
    return text;
}

std::string keywordList() {
    std::string text;
    for (const TElementKind& kind : elementKinds())
        if (!kind.keyword.empty()) text += (text.empty() ? "" : ", ") + kind.keyword;
    return text;
}

std::vector<std::string> remarks(const TOpticalSystem& system) {
    std::vector<std::string> notes;
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& e = *system[i];
        const std::string which = "element " + std::to_string(i + 1) + " (" + elementKind(e) + ")";
        if (i > 0 && e.zPosition < system[i - 1]->zPosition)
            notes.push_back(which +
                            " lies in front of the element before it; light meets "
                            "elements in the order they are listed");
        if (const TElementKind* kind = kindOf(e))
            for (const std::string& remark : kind->remarks(e))
                notes.push_back(which + " " + remark);
    }
    return notes;
}

}  // namespace lumivex::cli
