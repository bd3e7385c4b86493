// verifySamlResponse on arbitrary bytes, with the test IdP certificate.
// Whatever the input, the call returns 0, -7 or -8; on 0 the NameID handed
// out is one the test IdP signed (the seeds are the only documents it ever
// signed) and no failure was reported; on -7 or -8 the NameID is untouched
// and the reason went to the error callback. Beside it, the parse of a
// text the screening passed, which takes the attribute bound from the
// screening's pass over the bytes, refuses exactly what the parse that
// reads the bound itself refuses.
#include <algorithm>

#include "frame/handles.h"
#include "fuzz_support.h"
#include "idp_samples.h"
#include "xml/parse.h"
#include "xml/screening.h"

using namespace corvane_fuzz;

namespace {

void screenedParseAgreesWithTheFullParse(const std::string& text) {
    corvane::internal::ScreenedText screened;
    if (!corvane::internal::screenResponseText(text, &screened)) return;
    const corvane::internal::XmlDocPtr whole(corvane::internal::parseXmlSafely(text));
    const corvane::internal::XmlDocPtr afterScreening(
        corvane::internal::parseScreenedXml(screened));
    require((whole != nullptr) == (afterScreening != nullptr),
            "the screened parse and the full parse disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string certificate = fixture("test-idp-cert.pem");
    corvane::CorvaneBase& saml = library();
    const std::string response(reinterpret_cast<const char*>(data), size);
    const std::string untouched = "untouched-name-id";
    std::string nameId = untouched;
    resetCalls();
    const int status = saml.verifySamlResponse(nameId, response, certificate);
    if (status == 0) {
        const std::vector<std::string>& signedIds = corvane_samples::signedNameIds();
        require(std::find(signedIds.begin(), signedIds.end(), nameId) != signedIds.end(),
                "accepted a NameID the IdP never signed");
        require(calls().errors == 0, "accepted with an error message");
    } else {
        require(status == -7 || status == -8, "status other than 0, -7, -8");
        require(nameId == untouched, "NameID changed on failure");
        require(calls().errors >= 1, "refused without an error message");
    }
    screenedParseAgreesWithTheFullParse(response);
    return 0;
}
