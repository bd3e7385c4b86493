#include "xml/limits.h"

#include "Corvane.h"

namespace corvane {
namespace internal {

namespace {
const char kTooLarge[] = "SAML message of %zu bytes is larger than the limit of %zu bytes";
}  // namespace

bool messageWithinSizeLimit(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return true;
    CorvaneBase::setErrorMessage(kTooLarge, text.size(), maxBytes);
    return false;
}

long long resolutionStepsOfTag(long long depth, long long declarationsInScope, long long attributes,
                               long long prefixedAttributes) {
    return depth * (1 + attributes) + declarationsInScope * (1 + prefixedAttributes);
}

long long resolutionStepBudget(std::size_t textBytes) {
    return kResolutionStepsAllowance + kResolutionStepsPerByte * static_cast<long long>(textBytes);
}

}  // namespace internal
}  // namespace corvane
