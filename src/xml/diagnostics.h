// libxml2's diagnostics of the library's own calls go to the host's log,
// never to stderr.
#ifndef CORVANE_XML_DIAGNOSTICS_H
#define CORVANE_XML_DIAGNOSTICS_H

#include <string>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

namespace corvane {
namespace internal {

// While it lives, libxml2's generic and structured error output on this
// thread (parser, c14n, serialization, tree functions) goes to the log at
// the given level, one line per report with its text escaped, at most
// kMaxDiagnosticLines lines and then one line saying the rest was dropped
// (hostile input must not flood the log). On destruction the handlers the
// host had set on this thread are restored; libxml2 keeps them per thread,
// so other threads are not affected.
class LibxmlDiagnosticsToLog {
public:
    static const int kMaxDiagnosticLines = 16;

    explicit LibxmlDiagnosticsToLog(int level);
    ~LibxmlDiagnosticsToLog();
    LibxmlDiagnosticsToLog(const LibxmlDiagnosticsToLog&) = delete;
    LibxmlDiagnosticsToLog& operator=(const LibxmlDiagnosticsToLog&) = delete;

    // One structured report (libxml2's xmlError) as one line.
    void report(const xmlError* error);
    // Generic output, which libxml2 writes in pieces: every completed line
    // is logged.
    void appendGenericText(const std::string& text);

private:
    void logLine(const std::string& text);

    int level_;
    int lines_ = 0;
    std::string pending_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
    xmlStructuredErrorFunc savedStructured_;
    void* savedStructuredContext_;
};

}  // namespace internal
}  // namespace corvane

#endif
