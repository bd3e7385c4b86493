// The attribute bound of the hardened parse, as a state machine over the
// text's markup bytes, shared by the parse's own pass and the screening's.
#ifndef CORVANE_XML_ATTRIBUTE_BOUND_H
#define CORVANE_XML_ATTRIBUTE_BOUND_H

#include <cstddef>

#include "xml/limits.h"

namespace corvane {
namespace internal {

// libxml2 checks a start tag's attributes for duplicates pair by pair, so
// its cost grows with the square of their number. A start tag is counted
// from '<' and a name to its unquoted '>'; a '<' cannot stand in a real
// attribute value, so it always ends the count. Only the markup bytes
// (isMarkupByte) move the count: feeding those alone, in order, gives the
// verdict of feeding every byte.
class StartTagAttributeBound {
public:
    static constexpr bool isMarkupByte(unsigned char c) {
        return c == '<' || c == '>' || c == '=' || c == '"' || c == '\'';
    }

    // The markup byte c, followed in the text by next (0 at its end).
    // False once a start tag holds more than kMaxAttributesPerElement.
    bool feedMarkupByte(unsigned char c, unsigned char next) {
        if (c == '<') {
            attributes_ = startsName(next) ? 0 : -1;
            quote_ = 0;
        } else if (attributes_ < 0) {
            return true;
        } else if (quote_ != 0) {
            if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
            quote_ = c;
        } else if (c == '>') {
            attributes_ = -1;
        } else if (c == '=' && ++attributes_ > kMaxAttributesPerElement) {
            return false;
        }
        return true;
    }

private:
    // What libxml2 may start a name with: ASCII letters, '_', ':' and any
    // byte outside ASCII.
    static bool startsName(unsigned char c) {
        return c >= 0x80 || c == '_' || c == ':' || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z');
    }

    int attributes_ = -1;  // not inside a start tag
    unsigned char quote_ = 0;
};

}  // namespace internal
}  // namespace corvane

#endif
