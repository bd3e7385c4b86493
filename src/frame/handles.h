// Owning pointers for the handles of libxml2: each handle has one owner
// from the line that creates it and is released on every path.
#ifndef CORVANE_FRAME_HANDLES_H
#define CORVANE_FRAME_HANDLES_H

#include <memory>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace corvane {
namespace internal {

struct XmlCharFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
typedef std::unique_ptr<xmlChar, XmlCharFree> XmlCharPtr;

struct XmlParserCtxtFree {
    void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};
typedef std::unique_ptr<xmlParserCtxt, XmlParserCtxtFree> XmlParserCtxtPtr;

struct XmlDocFree {
    void operator()(xmlDoc* p) const { xmlFreeDoc(p); }
};
typedef std::unique_ptr<xmlDoc, XmlDocFree> XmlDocPtr;

}  // namespace internal
}  // namespace corvane

#endif
