// The HTTP-POST binding: the auto-submitting form that carries a request
// to the IdP, and the posted SAMLResponse value turned back into XML.
#include <cstdio>

#include "corvane/login.h"
#include "corvane/request.h"
#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/messages.h"
#include "saml/bindings.h"
#include "xml/build.h"

namespace corvane {

namespace {

const char kBadEscape[] = "%s form value holds a bad percent-escape at offset %zu";
const char kEmptyValue[] = "%s form value is empty";
const char kTooLarge[] = "SAML message is larger than %zu bytes";
const char kBadAction[] = "POST form action must be an http or https URL";
const char kEmptyRequest[] = "POST form SAML request is empty";
const char kNotXmlText[] = "POST form %s holds characters that XML can not carry";

const std::string::size_type kRelayStateLimit = 80;
const int kOk = 0;
const int kUnusable = -8;
const int kBadOptions = -9;
const int kTooLargeStatus = -11;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The base64 text of a value decoding to at most maxBytes, with room for
// line breaks and percent-escapes: anything longer is refused unread.
std::size_t textLimit(std::size_t maxBytes) {
    const std::size_t kSlack = 64;
    return maxBytes > (static_cast<std::size_t>(-1) - kSlack) / 4 ? static_cast<std::size_t>(-1)
                                                                  : maxBytes * 4 + kSlack;
}

bool isHttpUrl(const std::string& url) {
    return url.compare(0, 8, "https://") == 0 || url.compare(0, 7, "http://") == 0;
}

int checkFormInputs(const std::string& actionUrl, const std::string& samlRequest,
                    const std::string& relayState) {
    if (!isHttpUrl(actionUrl)) {
        CorvaneBase::setErrorMessage(kBadAction);
        return kBadOptions;
    }
    if (samlRequest.empty()) {
        CorvaneBase::setErrorMessage(kEmptyRequest);
        return kBadOptions;
    }
    if (relayState.size() > kRelayStateLimit) {
        CorvaneBase::setErrorMessage(internal::kMessageRelayStateTooLong);
        return kBadOptions;
    }
    const struct {
        const char* name;
        const std::string& value;
    } texts[] = {{"action", actionUrl}, {"RelayState", relayState}};
    for (const auto& text : texts) {
        if (internal::isXmlText(text.value)) continue;
        CorvaneBase::setErrorMessage(kNotXmlText, text.name);
        return kBadOptions;
    }
    return kOk;
}

std::string hiddenInput(const char* name, const std::string& value) {
    return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" +
           internal::htmlEscape(value) + "\"/>\n";
}

// The page: one form, one script that submits it, a button without scripts.
std::string formPage(const char* field, const std::string& actionUrl, const std::string& message,
                     const std::string& relayState) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"/>"
        "<title>Signing in</title></head>\n<body>\n<form method=\"post\" action=\"" +
        internal::htmlEscape(actionUrl) + "\">\n" +
        hiddenInput(field, internal::base64Encode(message));
    if (!relayState.empty()) page += hiddenInput("RelayState", relayState);
    page +=
        "<noscript><p>Scripts are off: press the button to continue signing in.</p>"
        "<button type=\"submit\">Continue</button></noscript>\n</form>\n"
        "<script>document.forms[0].submit();</script>\n</body></html>\n";
    return page;
}

}  // namespace

namespace internal {

std::string htmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

int postFormPage(const char* field, const std::string& actionUrl, const std::string& message,
                 const std::string& relayState, std::string* page) {
    const int status = checkFormInputs(actionUrl, message, relayState);
    if (status == kOk) *page = formPage(field, actionUrl, message, relayState);
    return status;
}

bool decodeFormText(const std::string& value, std::string* decoded, std::size_t* badEscapeAt) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '+') {
            out += ' ';
        } else if (value[i] != '%') {
            out += value[i];
        } else {
            const int high = i + 2 < value.size() ? hexValue(value[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(value[i + 2]) : -1;
            if (low < 0) {
                *badEscapeAt = i;
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    decoded->swap(out);
    return true;
}

int decodeFormValue(const std::string& value, const char* what, std::string* decoded) {
    std::size_t badEscapeAt = 0;
    if (decodeFormText(value, decoded, &badEscapeAt)) return kOk;
    CorvaneBase::setErrorMessage(kBadEscape, what, badEscapeAt);
    return kUnusable;
}

int decodePostedValue(const std::string& value, const char* field, bool formEncoded,
                      std::size_t maxBytes, std::string* xml) {
    if (value.size() > textLimit(maxBytes)) {
        CorvaneBase::setErrorMessage(kTooLarge, maxBytes);
        return kTooLargeStatus;
    }
    std::string text;
    int status = formEncoded ? decodeFormValue(value, field, &text) : kOk;
    if (status != kOk) return status;
    std::string bytes;
    status = decodeBase64Strict(formEncoded ? text : value, textLimit(maxBytes), &bytes);
    if (status != kOk) return status;
    if (bytes.empty()) {
        CorvaneBase::setErrorMessage(kEmptyValue, field);
        return kUnusable;
    }
    if (bytes.size() > maxBytes) {
        CorvaneBase::setErrorMessage(kTooLarge, maxBytes);
        return kTooLargeStatus;
    }
    xml->swap(bytes);
    return kOk;
}

}  // namespace internal

Result<std::string> postForm(const std::string& actionUrl, const std::string& samlRequest,
                             const std::string& relayState) {
    internal::CallScope scope;
    std::string page;
    const int status =
        internal::postFormPage("SAMLRequest", actionUrl, samlRequest, relayState, &page);
    return scope.result(status, std::move(page));
}

Result<std::string> decodePostedResponse(const std::string& formValue, bool formEncoded,
                                         std::size_t maxBytes) {
    internal::CallScope scope;
    std::string xml;
    const int status =
        internal::decodePostedValue(formValue, "SAMLResponse", formEncoded, maxBytes, &xml);
    return scope.result(status, std::move(xml));
}

Result<VerifiedLogin> verifyPostedLoginResponse(const std::string& formValue,
                                                const LoginExpectations& expectations,
                                                bool formEncoded) {
    Result<std::string> xml =
        decodePostedResponse(formValue, formEncoded, expectations.maxMessageBytes);
    if (!xml.ok()) return Result<VerifiedLogin>::failure(xml.status(), xml.message());
    return verifyLoginResponse(xml.value(), expectations);
}

}  // namespace corvane
