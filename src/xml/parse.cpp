// The one way the library parses XML with libxml2.
#include <climits>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>

#include <vector>

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/handles.h"
#include "xml/attribute_bound.h"
#include "xml/diagnostics.h"
#include "xml/parse.h"
#include "xml/screening.h"

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

// The attribute bound (xml/attribute_bound.h) over the whole text.
bool startTagsHaveFewAttributes(const std::string& text) {
    StartTagAttributeBound bound;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (!StartTagAttributeBound::isMarkupByte(bytes[i])) continue;
        const unsigned char next = i + 1 < text.size() ? bytes[i + 1] : 0;
        if (!bound.feedMarkupByte(bytes[i], next)) return false;
    }
    return true;
}

const int kParseOptions =
    XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

}  // namespace

namespace {

// The parse itself, once the text is known to keep the attribute bound.
xmlDoc* parseWithinAttributeBound(const std::string& text) {
    if (text.size() > static_cast<std::string::size_type>(INT_MAX)) return nullptr;
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

}  // namespace

xmlDoc* parseXmlSafely(const std::string& text) {
    if (!startTagsHaveFewAttributes(text)) return nullptr;
    return parseWithinAttributeBound(text);
}

xmlDoc* parseScreenedXml(const ScreenedText& screened) {
    CORVANE_ASSERT(screened.screened());
    if (!screened.startTagsWithinAttributeBound()) return nullptr;
    return parseWithinAttributeBound(screened.text());
}

}  // namespace internal
}  // namespace corvane
