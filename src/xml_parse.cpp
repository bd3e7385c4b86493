// The one way the library parses XML with libxml2.
#include <climits>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>

#include "internal.h"

namespace corvane {
namespace internal {

namespace {

// Declares internal entities only. An external entity (general or
// parameter) is never declared, so a reference to it is an undeclared
// entity: the parse fails, or the reference stays empty, and nothing is
// ever fetched by its URI.
void declareInternalEntitiesOnly(void* ctx, const xmlChar* name, int type,
                                 const xmlChar* publicId, const xmlChar* systemId,
                                 xmlChar* content) {
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

const int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR |
                          XML_PARSE_NOWARNING;

}  // namespace

xmlDoc* parseXmlSafely(const std::string& text) {
    if (text.size() > static_cast<std::string::size_type>(INT_MAX)) return nullptr;
    XmlParserCtxtPtr ctxt(xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size())));
    if (!ctxt || !ctxt->sax) return nullptr;
    // The handler belongs to this context alone: no process-wide setting
    // of libxml2 is touched.
    xmlCtxtUseOptions(ctxt.get(), kParseOptions);
    closeEntityLoading(ctxt->sax);
    xmlParseDocument(ctxt.get());
    xmlDoc* doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    if (!ctxt->wellFormed) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return doc;
}

}  // namespace internal
}  // namespace corvane
