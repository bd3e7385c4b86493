// The one way the library parses XML with libxml2.
#include <cctype>
#include <climits>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>

#include <vector>

#include "Corvane.h"
#include "frame/handles.h"
#include "xml/diagnostics.h"
#include "xml/parse.h"

namespace corvane {
namespace internal {

namespace {

const char kTooManyDeclarations[] =
    "XML parse stopped: an element declares more than %d namespaces";
const char kTooManyInScope[] = "XML parse stopped: more than %d namespace declarations in scope";
const char kTooCostly[] =
    "XML parse stopped: its names need more than %lld namespace resolution steps";
const int kDetailLevel = 3;

// What one parse keeps beside libxml2's context (in its _private field):
// the namespace declarations of every open element, and where its
// diagnostics go.
struct ParseState {
    std::vector<int> declarationsPerOpenElement;
    int declarationsInScope = 0;
    long long resolutionSteps = 0;
    long long resolutionBudget = 0;
    bool boundBroken = false;
    LibxmlDiagnosticsToLog* diagnostics = nullptr;
};

ParseState* stateOf(void* ctx) {
    return static_cast<ParseState*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

// Stops this context; an entity's content is parsed by a context of its
// own, so the state records the refusal for the document as a whole.
void stopParse(void* ctx, ParseState* state) {
    xmlParserCtxt* ctxt = static_cast<xmlParserCtxt*>(ctx);
    if (state) state->boundBroken = true;
    ctxt->wellFormed = 0;
    xmlStopParser(ctxt);
}

// libxml2 has pushed the element's declarations and resolved its names
// against at most the bound in scope before it calls here; an element
// that would raise the declarations past a bound ends the parse, so no
// later name is ever resolved against more.
void startElementWithinNamespaceBounds(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                       const xmlChar* uri, int namespaceCount,
                                       const xmlChar** namespaces, int attributeCount,
                                       int defaultedCount, const xmlChar** attributes) {
    ParseState* state = stateOf(ctx);
    if (state == nullptr || state->boundBroken) {
        stopParse(ctx, state);
        return;
    }
    if (namespaceCount > kMaxNamespaceDeclarationsPerElement) {
        CorvaneBase::writeToLog(kDetailLevel, kTooManyDeclarations,
                                kMaxNamespaceDeclarationsPerElement);
        stopParse(ctx, state);
        return;
    }
    if (state->declarationsInScope + namespaceCount > kMaxNamespaceDeclarationsInScope) {
        CorvaneBase::writeToLog(kDetailLevel, kTooManyInScope, kMaxNamespaceDeclarationsInScope);
        stopParse(ctx, state);
        return;
    }
    int prefixedAttributes = 0;
    for (int i = 0; i < attributeCount; ++i) {
        if (attributes[5 * i + 1] != nullptr) ++prefixedAttributes;
    }
    const long long depth = static_cast<long long>(state->declarationsPerOpenElement.size());
    state->resolutionSteps +=
        resolutionStepsOfTag(depth, state->declarationsInScope + namespaceCount,
                             attributeCount + namespaceCount, prefixedAttributes);
    if (state->resolutionSteps > state->resolutionBudget) {
        CorvaneBase::writeToLog(kDetailLevel, kTooCostly, state->resolutionBudget);
        stopParse(ctx, state);
        return;
    }
    state->declarationsPerOpenElement.push_back(namespaceCount);
    state->declarationsInScope += namespaceCount;
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount,
                          defaultedCount, attributes);
}

void endElementWithinNamespaceBounds(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                     const xmlChar* uri) {
    ParseState* state = stateOf(ctx);
    if (state && !state->declarationsPerOpenElement.empty()) {
        state->declarationsInScope -= state->declarationsPerOpenElement.back();
        state->declarationsPerOpenElement.pop_back();
    }
    xmlSAX2EndElementNs(ctx, localname, prefix, uri);
}

void logParseDiagnostic(void* ctx, xmlError* error) {
    ParseState* state = stateOf(ctx);
    if (state && state->diagnostics) state->diagnostics->report(error);
}

void boundNamespacesAndRouteDiagnostics(xmlSAXHandler* sax) {
    sax->startElementNs = startElementWithinNamespaceBounds;
    sax->endElementNs = endElementWithinNamespaceBounds;
    sax->serror = logParseDiagnostic;
}

// Declares internal entities only. An external entity (general or
// parameter) is never declared, so a reference to it is an undeclared
// entity: the parse fails, or the reference stays empty, and nothing is
// ever fetched by its URI.
void declareInternalEntitiesOnly(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                                 const xmlChar* systemId, xmlChar* content) {
    if (type == XML_INTERNAL_GENERAL_ENTITY || type == XML_INTERNAL_PARAMETER_ENTITY ||
        type == XML_INTERNAL_PREDEFINED_ENTITY) {
        xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
    }
}

// An external DTD subset is never read.
void ignoreExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}

// Nothing is resolved by URI.
xmlParserInputPtr resolveNothing(void*, const xmlChar*, const xmlChar*) { return nullptr; }

// libxml2 reports a reference to an undeclared entity here when a DTD
// could have declared it elsewhere (an external subset that is never
// read). Such a reference fails the parse instead of staying in the tree.
void refuseUndeclaredEntity(void* ctx, const xmlChar*) {
    xmlParserCtxt* ctxt = static_cast<xmlParserCtxt*>(ctx);
    ctxt->wellFormed = 0;
    xmlStopParser(ctxt);
}

void closeEntityLoading(xmlSAXHandler* sax) {
    sax->reference = refuseUndeclaredEntity;
    sax->entityDecl = declareInternalEntitiesOnly;
    sax->externalSubset = ignoreExternalSubset;
    sax->resolveEntity = resolveNothing;
}

// libxml2 checks a start tag's attributes for duplicates pair by pair, so
// its cost grows with the square of their number. A start tag is counted
// from '<' and a name to its unquoted '>'; a '<' cannot stand in a real
// attribute value, so it always ends the count.
bool startTagsHaveFewAttributes(const std::string& text) {
    int attributes = -1;  // not inside a start tag
    char quote = 0;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            const unsigned char next =
                i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            attributes = (next >= 0x80 || next == '_' || next == ':' || isalpha(next)) ? 0 : -1;
            quote = 0;
        } else if (attributes < 0) {
            continue;
        } else if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            attributes = -1;
        } else if (c == '=' && ++attributes > kMaxAttributesPerElement) {
            return false;
        }
    }
    return true;
}

const int kParseOptions =
    XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

}  // namespace

xmlDoc* parseXmlSafely(const std::string& text) {
    if (text.size() > static_cast<std::string::size_type>(INT_MAX)) return nullptr;
    if (!startTagsHaveFewAttributes(text)) return nullptr;
    LibxmlDiagnosticsToLog diagnostics(kDetailLevel);
    ParseState state;  // outlives the context that points to it
    state.diagnostics = &diagnostics;
    state.resolutionBudget = resolutionStepBudget(text.size());
    XmlParserCtxtPtr ctxt(xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size())));
    if (!ctxt || !ctxt->sax) return nullptr;
    // The handler belongs to this context alone: no process-wide setting
    // of libxml2 is touched.
    xmlCtxtUseOptions(ctxt.get(), kParseOptions);
    closeEntityLoading(ctxt->sax);
    ctxt->_private = &state;
    boundNamespacesAndRouteDiagnostics(ctxt->sax);
    xmlParseDocument(ctxt.get());
    xmlDoc* doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    if (!ctxt->wellFormed || state.boundBroken) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return doc;
}

}  // namespace internal
}  // namespace corvane
