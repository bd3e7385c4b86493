// The helper object and its factory, the host's callbacks, message
// formatting and delivery, identifiers, and xmlsec1's error reports.
#include <cstdarg>
#include <cstdio>
#include <new>

#include <xmlsec/xmlsec.h>
#include <xmlsec/errors.h>

#include "Corvane.h"
#include "frame/assertions.h"
#include "frame/call_scope.h"
#include "frame/escape.h"

namespace corvane {

LogCallback CorvaneBase::m_logCallback = nullptr;
ErrorCallback CorvaneBase::m_errorCallback = nullptr;
GenIDCallback CorvaneBase::m_genIDCallback = nullptr;

boost::shared_ptr<CorvaneBase> CorvaneBase::getHelper(LogCallback logCallback,
                                                      ErrorCallback errorCallback,
                                                      GenIDCallback genIDCallback) {
    // Function-local: created on first use, released with the library's
    // static objects. The first call alone installs the callbacks; a
    // failed allocation leaves both the holder and the callbacks untouched.
    static boost::shared_ptr<CorvaneBase> helper;
    if (!helper.get()) {
        boost::shared_ptr<CorvaneBase> created(new Corvane());
        helper = created;
        m_logCallback = logCallback;
        m_errorCallback = errorCallback;
        m_genIDCallback = genIDCallback;
    }
    return helper;
}

namespace {

const int kMessageBufferSize = 1024;
const char kTruncationMarker[] = "...";

// printf-style formatting into a fixed buffer: at most 1023 characters,
// "..." appended when the text was cut or formatting failed.
std::string formatMessage(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
std::string formatMessage(const char* format, va_list args) {
    char buffer[kMessageBufferSize];
    buffer[0] = '\0';
    const int count = std::vsnprintf(buffer, sizeof buffer, format, args);
    buffer[kMessageBufferSize - 1] = '\0';
    std::string message(buffer);
    if (count < 0 || count >= kMessageBufferSize) message += kTruncationMarker;
    return message;
}

}  // namespace

void CorvaneBase::writeToLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = formatMessage(format, args);
    va_end(args);
    // Inside an extended call the line belongs to that call's sinks.
    if (internal::CallScope::deliverLog(level, message)) return;
    if (m_logCallback) m_logCallback(level, message);
}

void CorvaneBase::setErrorMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = formatMessage(format, args);
    va_end(args);
    // Inside an extended call the message belongs to that call's result.
    if (internal::CallScope::deliverError(message)) return;
    CORVANE_ASSERT(m_errorCallback);
    m_errorCallback(message);
}

void CorvaneBase::generateID(std::string& id) {
    CORVANE_ASSERT(m_genIDCallback);
    m_genIDCallback(id);
}

namespace {

const int kXmlsecErrorTableLimit = 256;

// The text that xmlsec1's error table gives for a reason code, or null.
const char* xmlsecReasonText(int reason) {
    for (xmlSecSize pos = 0; pos < kXmlsecErrorTableLimit; ++pos) {
        const char* msg = xmlSecErrorsGetMsg(pos);
        if (msg == nullptr) break;
        if (xmlSecErrorsGetCode(pos) == reason) return msg;
    }
    return nullptr;
}

// xmlsec1's fields can quote the document (node names, URIs): each is
// escaped, so a report stays one line.
std::string orUnknown(const char* name) {
    return name ? internal::escapedForMessage(name) : std::string("unknown");
}
std::string orEmpty(const char* text) { return internal::escapedForMessage(text); }

}  // namespace

void XmlsecError2Log(const char* file, int line, const char* func, const char* errorObject,
                     const char* errorSubject, int reason, const char* msg) {
    CorvaneBase::writeToLog(1, "func=%s:file=%s:line=%d:obj=%s:subj=%s:error=%d:%s:%s",
                            orUnknown(func).c_str(), orUnknown(file).c_str(), line,
                            orUnknown(errorObject).c_str(), orUnknown(errorSubject).c_str(), reason,
                            orEmpty(xmlsecReasonText(reason)).c_str(), orEmpty(msg).c_str());
}

}  // namespace corvane
