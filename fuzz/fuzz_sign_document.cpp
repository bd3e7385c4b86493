// signDocument on arbitrary documents, with the test SP key. Whatever the
// input, the call returns 0 or -8; on 0 the signed text is well-formed XML
// and no failure was reported; on -8 the text is unchanged and exactly one
// message went to the error callback.
#include <libxml/parser.h>

#include "fuzz_support.h"

using namespace corvane_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string key = fixture("test-sp-key-and-cert.pem");
    library();
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string text = input;
    resetCalls();
    const int status = corvane::signDocument(&text, key);
    if (status == 0) {
        require(calls().errors == 0, "signed with an error message");
        xmlDoc* doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                        XML_PARSE_HUGE);
        require(doc != nullptr, "signed text is not well-formed");
        xmlFreeDoc(doc);
    } else {
        require(status == -8, "status other than 0, -8");
        require(text == input, "text changed on failure");
        require(calls().errors == 1, "not exactly one error message on failure");
    }
    return 0;
}
