// Words for each status, for summaries written to people.
#include "corvane/status.h"

namespace corvane {

const char* describeStatus(Status status) {
    switch (status) {
        case Status::Ok:
            return "success";
        case Status::SignatureInvalid:
            return "signature not valid";
        case Status::StartupFailed:
            return "start-up failed";
        case Status::NotAuthentic:
            return "not authentic";
        case Status::Unusable:
            return "not usable";
        case Status::BadOptions:
            return "options not usable";
        case Status::ProfileRefused:
            return "authentic, but refused by the profile";
        case Status::TooLarge:
            return "too large";
        case Status::ReplayCacheFailed:
            return "replay cache failed";
    }
    return "unknown status";
}

}  // namespace corvane
