// Two forward passes over the response text that refuse what would let
// TinyXML and libxml2 read two different documents, and what would make
// either of them work out of proportion to the text (deep recursion,
// quadratic attribute checks): one over every byte for the characters
// (and the parse's attribute bound), one over the markup. Markup is recognised the way TinyXML
// recognises it, so the depth found here bounds TinyXML's recursion even on
// text that is not well-formed.
#include "xml/screening.h"

#include <strings.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/messages.h"
#include "xml/attribute_bound.h"
#include "xml/parse.h"

namespace corvane {
namespace internal {

namespace {

// Each follows the document's name ("SAML token", "SAML metadata").
const char kHasNul[] = " must not contain NUL characters";
const char kNotUtf8[] = " must be encoded in UTF-8";
const char kBadCharacter[] = " contains a character that XML does not allow";
const char kHasDtd[] = " must not contain a DTD";
const char kHasPi[] = " must not contain processing instructions";
const char kTrailingContent[] = " must not contain anything after its root element";
const char kTooDeep[] = "elements nested too deeply";
const char kTooManyAttributes[] = "element has too many attributes";
const char kTooManyNodes[] = "too many elements and attributes";
const char kTooManyDeclarations[] = "element declares too many namespaces";
const char kTooManyInScope[] = "too many namespace declarations in scope";
const char kTooCostly[] = "names need too many namespace resolution steps";
const char kBadDeclaration[] = "XML declaration not closed by '?>'";

typedef std::string::size_type Pos;

bool startsWith(const std::string& text, Pos pos, const char* prefix) {
    return text.compare(pos, std::strlen(prefix), prefix) == 0;
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// TinyXML starts an element at '<' followed by a letter, '_' or any byte
// outside ASCII.
bool startsElementName(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 127 || u == '_' || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

void reportMalformedAt(const std::string& text, Pos pos, const char* documentName,
                       const char* description) {
    int line = 1;
    int col = 1;
    for (Pos i = 0; i < pos && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            col = 1;
        } else {
            ++col;
        }
    }
    CorvaneBase::setErrorMessage(internal::kMessageMalformedIn, documentName, description, line,
                                 col);
}

// The encoding a leading XML declaration names is UTF-8, or none is named.
bool declaresUtf8OrNothing(const std::string& declaration) {
    const Pos name = declaration.find("encoding");
    if (name == std::string::npos) return true;
    Pos quote = declaration.find_first_of("\"'", name);
    if (quote == std::string::npos) return false;
    const Pos close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string::npos) return false;
    const std::string value = declaration.substr(quote + 1, close - quote - 1);
    return strcasecmp(value.c_str(), "UTF-8") == 0 || strcasecmp(value.c_str(), "UTF8") == 0;
}

enum TextVerdict { kTextSound, kTextNotUtf8, kTextBadCharacter };

// Decodes one UTF-8 sequence strictly (no overlong forms, no surrogates,
// nothing above U+10FFFF); returns its length, or 0 when malformed.
std::size_t decodeUtf8(const std::string& text, std::size_t pos, unsigned long* codePoint) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    unsigned long value = 0;
    unsigned long minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (pos + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

bool isXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// How the pass over every byte treats a byte: plain ASCII that XML allows
// and the attribute bound ignores, a markup byte the attribute bound reads,
// or a byte to decode (control characters, NUL and every byte outside
// ASCII).
enum ByteClass : unsigned char { kPlainByte, kMarkupByte, kByteToDecode };

struct ByteClasses {
    ByteClass of[256];
};

constexpr ByteClasses classifyBytes() {
    ByteClasses table{};
    for (int b = 0; b < 256; ++b) {
        const bool plain = (b >= 0x20 && b < 0x80) || b == '\t' || b == '\n' || b == '\r';
        table.of[b] = StartTagAttributeBound::isMarkupByte(static_cast<unsigned char>(b))
                          ? kMarkupByte
                      : plain ? kPlainByte
                              : kByteToDecode;
    }
    return table;
}

constexpr ByteClasses kByteClasses = classifyBytes();

// What one pass over every byte of the text finds: a NUL anywhere, the
// first character that is not well-formed UTF-8 or not one XML allows,
// and whether the start tags stay within the parse's attribute bound.
struct ByteFindings {
    bool hasNul = false;
    TextVerdict characters = kTextSound;
    bool withinAttributeBound = true;
};

// Every byte belongs to a well-formed UTF-8 sequence of a character XML
// allows. TinyXML skips a multi-byte character whole without checking
// what follows its lead byte, and takes U+FEFF for white space: only such
// text is read the same way by it, by libxml2 and by this scanner. U+FEFF
// is therefore allowed only as the byte order mark. A NUL is refused
// before any other character, wherever it stands. The attribute bound of
// the parse is read in the same pass, so the parse need not read the
// text for it again.
ByteFindings scanBytes(const std::string& text) {
    ByteFindings found;
    StartTagAttributeBound bound;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t pos = 0;
    while (pos < size) {
        const unsigned char b = bytes[pos];
        const ByteClass kind = kByteClasses.of[b];
        if (kind == kPlainByte) {
            ++pos;
            continue;
        }
        if (kind == kMarkupByte) {
            const unsigned char next = pos + 1 < size ? bytes[pos + 1] : 0;
            if (found.withinAttributeBound)
                found.withinAttributeBound = bound.feedMarkupByte(b, next);
            ++pos;
            continue;
        }
        unsigned long c = 0;
        const std::size_t length = decodeUtf8(text, pos, &c);
        if (length == 0) {
            found.characters = kTextNotUtf8;
        } else if (!isXmlChar(c) || (c == 0xFEFF && pos != 0)) {
            found.characters = kTextBadCharacter;
        } else {
            pos += length;
            continue;
        }
        // No NUL stands before pos: it would have stopped the pass there.
        found.hasNul = std::memchr(bytes + pos, 0, size - pos) != nullptr;
        return found;
    }
    return found;
}

class ResponseScanner {
public:
    ResponseScanner(const std::string& text, const ScreeningLimits& limits)
        : text_(text),
          limits_(limits),
          resolutionBudget_(resolutionStepBudget(text.size())),
          nodeBudget_(nodeBudget(text.size(), limits)) {}

    // The parse's attribute bound, as the pass over every byte found it.
    bool withinAttributeBound() const { return withinAttributeBound_; }

    bool run() {
        const ByteFindings bytes = scanBytes(text_);
        if (bytes.hasNul) return refuse(kHasNul);
        if (bytes.characters == kTextNotUtf8) return refuse(kNotUtf8);
        if (bytes.characters == kTextBadCharacter) return refuse(kBadCharacter);
        withinAttributeBound_ = bytes.withinAttributeBound;
        if (!skipByteOrderMarkAndDeclaration()) return false;
        while (pos_ < text_.size()) {
            if (text_[pos_] != '<') {
                if (!scanCharacterData()) return false;
                continue;
            }
            if (!scanMarkup()) return false;
        }
        return true;
    }

private:
    bool refuse(const char* message) {
        CorvaneBase::setErrorMessage("%s%s", limits_.documentName, message);
        return false;
    }

    void reportMalformed(Pos pos, const char* description) const {
        reportMalformedAt(text_, pos, limits_.documentName, description);
    }

    // The elements and attributes a text of this size may hold.
    static long long nodeBudget(std::size_t textBytes, const ScreeningLimits& limits) {
        const long long perBytes =
            limits.bytesPerFurtherNode == 0
                ? 0
                : static_cast<long long>(textBytes / limits.bytesPerFurtherNode);
        return limits.nodeAllowance + perBytes;
    }

    // Unterminated constructs end the scan: the parsers report them.
    bool stopScan() {
        pos_ = text_.size();
        return true;
    }

    bool skipByteOrderMarkAndDeclaration() {
        if (startsWith(text_, 0, "\xEF\xBB\xBF")) pos_ = 3;
        if (!startsWith(text_, pos_, "<?xml") || pos_ + 5 >= text_.size() ||
            !(isXmlSpace(text_[pos_ + 5]) || text_[pos_ + 5] == '?')) {
            return true;
        }
        // TinyXML ends the declaration at its first '>', libxml2 at "?>":
        // they must be the same place.
        const Pos end = text_.find('>', pos_);
        if (end == std::string::npos) return stopScan();
        if (text_[end - 1] != '?') {
            reportMalformed(pos_, kBadDeclaration);
            return false;
        }
        if (!declaresUtf8OrNothing(text_.substr(pos_, end - pos_))) return refuse(kNotUtf8);
        pos_ = end + 1;
        return true;
    }

    bool scanCharacterData() {
        const Pos next = text_.find('<', pos_);
        const Pos end = next == std::string::npos ? text_.size() : next;
        if (depth_ == 0) {
            for (Pos i = pos_; i < end; ++i) {
                if (isXmlSpace(text_[i])) continue;
                // Before the root TinyXML stops reading at text and finds no
                // root; after it, the text would be left unread.
                return rootClosed_ ? refuse(kTrailingContent) : stopScan();
            }
        }
        pos_ = end;
        return true;
    }

    // Dispatches on the byte after '<' (the text holds no NUL, so '\0'
    // stands for its end); comments are skipped even after the root.
    bool scanMarkup() {
        const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
        if (next == '!' && startsWith(text_, pos_, "<!--")) return skipPast("-->", pos_ + 4);
        if (rootClosed_) return refuse(kTrailingContent);
        switch (next) {
            case '!':
                if (startsWith(text_, pos_, "<![CDATA[")) return skipPast("]]>", pos_ + 9);
                return refuse(kHasDtd);
            case '?':
                return refuse(kHasPi);
            case '/':
                return scanEndTag();
            default:
                break;
        }
        if (startsElementName(next)) return scanStartTag();
        return skipPast(">", pos_ + 1);  // TinyXML's "unknown" node
    }

    bool skipPast(const char* terminator, Pos from) {
        const Pos end = text_.find(terminator, from);
        if (end == std::string::npos) return stopScan();
        pos_ = end + std::strlen(terminator);
        return true;
    }

    // Outside any element TinyXML reads an end tag as an "unknown" node.
    bool scanEndTag() {
        if (depth_ > 0) {
            declarationsInScope_ -= declarationsPerOpenElement_.back();
            declarationsPerOpenElement_.pop_back();
            if (--depth_ == 0) rootClosed_ = true;
        }
        return skipPast(">", pos_ + 2);
    }

    // The attribute name that ends before the '=' at equals, in the text.
    std::string_view attributeNameBefore(Pos equals, Pos tagStart) const {
        Pos end = equals;
        while (end > tagStart && isXmlSpace(text_[end - 1])) --end;
        Pos begin = end;
        while (begin > tagStart && !isXmlSpace(text_[begin - 1])) --begin;
        return std::string_view(text_).substr(begin, end - begin);
    }

    static bool declaresNamespace(std::string_view name) {
        return name == "xmlns" || (name.size() > 6 && name.compare(0, 6, "xmlns:") == 0);
    }

    // A start tag up to its '>', with attribute values skipped whole; the
    // attribute, declaration and depth bounds checked as it goes.
    bool scanStartTag() {
        const Pos tagStart = pos_;
        int attributes = 0;
        int declarations = 0;
        int prefixedAttributes = 0;
        Pos i = pos_ + 1;
        while (i < text_.size() && text_[i] != '>') {
            const char c = text_[i];
            if (c != '=') {
                ++i;
                continue;
            }
            if (++attributes > kMaxAttributesPerElement) {
                reportMalformed(tagStart, kTooManyAttributes);
                return false;
            }
            const std::string_view name = attributeNameBefore(i, tagStart);
            const bool declaration = declaresNamespace(name);
            if (!declaration && name.find(':') != std::string_view::npos) ++prefixedAttributes;
            if (declaration) {
                if (++declarations > kMaxNamespaceDeclarationsPerElement) {
                    reportMalformed(tagStart, kTooManyDeclarations);
                    return false;
                }
                if (declarationsInScope_ + declarations > kMaxNamespaceDeclarationsInScope) {
                    reportMalformed(tagStart, kTooManyInScope);
                    return false;
                }
            }
            i = skipAttributeValue(i + 1);
        }
        if (i >= text_.size()) return stopScan();
        nodes_ += 1 + attributes;
        if (nodes_ > nodeBudget_) {
            reportMalformed(tagStart, kTooManyNodes);
            return false;
        }
        // What libxml2 spends resolving the names of this tag.
        resolutionSteps_ += resolutionStepsOfTag(depth_, declarationsInScope_ + declarations,
                                                 attributes, prefixedAttributes);
        if (resolutionSteps_ > resolutionBudget_) {
            reportMalformed(tagStart, kTooCostly);
            return false;
        }
        pos_ = i + 1;
        if (text_[i - 1] == '/') {
            if (depth_ == 0) rootClosed_ = true;
            return true;
        }
        if (++depth_ > limits_.maxElementDepth) {
            reportMalformed(tagStart, kTooDeep);
            return false;
        }
        declarationsPerOpenElement_.push_back(declarations);
        declarationsInScope_ += declarations;
        return true;
    }

    // Skips a quoted value whole; an unquoted one ends at white space, '/'
    // or '>' as TinyXML reads it. Returns the position after the value, or
    // the end of the text when the value never ends.
    Pos skipAttributeValue(Pos i) const {
        while (i < text_.size() && isXmlSpace(text_[i])) ++i;
        if (i >= text_.size()) return i;
        const char quote = text_[i];
        if (quote == '"' || quote == '\'') {
            const Pos close = text_.find(quote, i + 1);
            return close == std::string::npos ? text_.size() : close + 1;
        }
        while (i < text_.size() && !isXmlSpace(text_[i]) && text_[i] != '/' && text_[i] != '>') {
            ++i;
        }
        return i;
    }

    const std::string& text_;
    const ScreeningLimits& limits_;
    Pos pos_ = 0;
    int depth_ = 0;
    bool rootClosed_ = false;
    // One entry per open element: the namespaces it declares.
    std::vector<int> declarationsPerOpenElement_;
    int declarationsInScope_ = 0;
    long long resolutionSteps_ = 0;
    const long long resolutionBudget_;
    const long long nodeBudget_;
    long long nodes_ = 0;  // elements and attributes so far
    bool withinAttributeBound_ = false;
};

}  // namespace

const ScreeningLimits kResponseScreening = {"SAML token", kMaxElementDepth, kMaxNodesPerMessage, 0};
const ScreeningLimits kMetadataScreening = {"SAML metadata", kMaxElementDepth, kMaxNodesPerMessage,
                                            kMetadataBytesPerFurtherNode};

bool screenText(const std::string& text, const ScreeningLimits& limits, ScreenedText* out) {
    CORVANE_ASSERT(out);
    ResponseScanner scanner(text, limits);
    if (!scanner.run()) return false;
    out->text_ = &text;
    out->withinAttributeBound_ = scanner.withinAttributeBound();
    return true;
}

bool screenText(const std::string& text, const ScreeningLimits& limits) {
    ScreenedText screened;
    return screenText(text, limits, &screened);
}

bool screenResponseText(const std::string& text, ScreenedText* out) {
    return screenText(text, kResponseScreening, out);
}

bool screenResponseText(const std::string& text) { return screenText(text, kResponseScreening); }

}  // namespace internal
}  // namespace corvane
