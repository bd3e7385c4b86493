#include "xml/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include <libxml/globals.h>

#include "Corvane.h"
#include "frame/escape.h"

namespace corvane {
namespace internal {

namespace {

const char kDiagnostic[] = "libxml2: %s";
const char kDiagnosticsDropped[] = "libxml2: further diagnostics of this call dropped";
const std::string::size_type kMaxPendingBytes = 1024;

std::string withoutTrailingNewlines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void reportStructured(void* guard, xmlError* error) {
    static_cast<LibxmlDiagnosticsToLog*>(guard)->report(error);
}

void collectGenericText(void* guard, const char* format, ...) __attribute__((format(printf, 2, 3)));
void collectGenericText(void* guard, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int count = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (count >= 0) static_cast<LibxmlDiagnosticsToLog*>(guard)->appendGenericText(buffer);
}

}  // namespace

LibxmlDiagnosticsToLog::LibxmlDiagnosticsToLog(int level)
    : level_(level),
      savedGeneric_(xmlGenericError),
      savedGenericContext_(xmlGenericErrorContext),
      savedStructured_(xmlStructuredError),
      savedStructuredContext_(xmlStructuredErrorContext) {
    xmlSetGenericErrorFunc(this, collectGenericText);
    xmlSetStructuredErrorFunc(this, reportStructured);
}

LibxmlDiagnosticsToLog::~LibxmlDiagnosticsToLog() {
    const std::string rest = withoutTrailingNewlines(pending_);
    if (!rest.empty()) logLine(rest);
    xmlSetStructuredErrorFunc(savedStructuredContext_, savedStructured_);
    xmlSetGenericErrorFunc(savedGenericContext_, savedGeneric_);
}

// libxml2's message ends in a newline; its line number is kept.
void LibxmlDiagnosticsToLog::report(const xmlError* error) {
    if (error == nullptr) return;
    std::string text = withoutTrailingNewlines(error->message ? error->message : "");
    if (error->line > 0) text += " (line " + std::to_string(error->line) + ")";
    logLine(text);
}

void LibxmlDiagnosticsToLog::appendGenericText(const std::string& text) {
    if (lines_ > kMaxDiagnosticLines) return;
    pending_ += text;
    // A line never ended is logged in pieces rather than kept growing.
    if (pending_.size() >= kMaxPendingBytes && pending_.find('\n') == std::string::npos) {
        pending_ += '\n';
    }
    std::string::size_type end;
    while ((end = pending_.find('\n')) != std::string::npos) {
        const std::string line = withoutTrailingNewlines(pending_.substr(0, end));
        pending_.erase(0, end + 1);
        if (!line.empty()) logLine(line);
    }
}

void LibxmlDiagnosticsToLog::logLine(const std::string& text) {
    if (lines_ > kMaxDiagnosticLines) return;
    if (lines_++ == kMaxDiagnosticLines) {
        CorvaneBase::writeToLog(level_, kDiagnosticsDropped);
        return;
    }
    CorvaneBase::writeToLog(level_, kDiagnostic, escapedForMessage(text).c_str());
}

}  // namespace internal
}  // namespace corvane
