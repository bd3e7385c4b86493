// IdP metadata at a federation's scale, single-threaded: a signed
// aggregate of 8,000 entities and about 70 MB, generated at start-up (not
// committed) and signed over its root with the test IdP key through the
// bare xmlsec1 API (enveloped, exclusive c14n, RSA-SHA256):
//   metadata/corvane_load_8000     loadIdpMetadata: screening, parse,
//                                  verification with the pinned key, index;
//   metadata/xmlsec1_tool_verify   the xmlsec1 tool's --verify of the same
//                                  file with the same certificate (a child
//                                  process per iteration, wall time);
//   metadata/part_screen, part_parse  two steps of the load alone: the
//                                  screening pass, the hardened parse;
//   metadata/lookup_first          IdpMetadata::idp of each IdP once, in
//                                  turn: the first lookup of an entity loads
//                                  its two certificates from base64 (no
//                                  parse of the document);
//   metadata/lookup_again          IdpMetadata::idp of one IdP looked up
//                                  before: a copy of its descriptor.
// Peak memory: each load benchmark reports peak_rss_MB, the peak resident
// size of a child process doing exactly one such load (this binary run
// with --load-once=FILE, reading the file, or the xmlsec1 tool), and
// child_cpu_s, that child's CPU time, from wait4's rusage: figures that a
// busy machine does not move as it moves wall time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <corvane/corvane.h>
#include "frame/handles.h"
#include "idp_samples.h"
#include "xml/parse.h"
#include "xml/screening.h"

namespace {

const int kEntities = 8000;
const int kIdpEvery = 3;  // one entity in three is an IdP, as in federations
const std::size_t kTargetBytes = 70u * 1000 * 1000;
const char kXmlsec1[] = "/usr/bin/xmlsec1";

struct Inputs {
    std::string path;  // the signed aggregate on disk, for the child processes
    std::string certPath;
    std::string text;
    std::string self;  // this binary
    corvane::IdpMetadataOptions options;
    corvane::IdpMetadataPtr loaded;
    std::string middleIdp;
};

Inputs& inputs() {
    static Inputs in;
    return in;
}

std::string certificateBody(const std::string& pem) {
    std::string body;
    std::istringstream lines(pem);
    for (std::string line; std::getline(lines, line);)
        if (line.find("-----") == std::string::npos) body += line;
    return body;
}

std::string entityId(int i) {
    return "https://entity-" + std::to_string(i) + ".example.test/" +
           (i % kIdpEvery == 0 ? "idp/shibboleth" : "shibboleth");
}

// One entity as federations publish it: UI info in two languages, two
// certificates, endpoints, organization and contact; padded with a
// description so the aggregate reaches its target size.
std::string entity(int i, const std::string& certificate, const std::string& padding) {
    const std::string id = entityId(i);
    const std::string host = "entity-" + std::to_string(i) + ".example.test";
    const bool idp = i % kIdpEvery == 0;
    std::string keys;
    for (const char* use : {"signing", "encryption"}) {
        keys += std::string("<md:KeyDescriptor use=\"") + use +
                "\"><ds:KeyInfo><ds:X509Data><ds:X509Certificate>\n" + certificate +
                "\n</ds:X509Certificate></ds:X509Data></ds:KeyInfo></md:KeyDescriptor>";
    }
    const std::string ui =
        "<md:Extensions><mdui:UIInfo><mdui:DisplayName xml:lang=\"en\">Entity " +
        std::to_string(i) + "</mdui:DisplayName><mdui:DisplayName xml:lang=\"de\">Einheit " +
        std::to_string(i) + "</mdui:DisplayName><mdui:Description xml:lang=\"en\">" + padding +
        "</mdui:Description><mdui:Logo height=\"60\" width=\"80\">https://" + host +
        "/logo.png</mdui:Logo></mdui:UIInfo></md:Extensions>";
    std::string role;
    if (idp) {
        role =
            "<md:IDPSSODescriptor "
            "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\">" +
            ui + keys +
            "<md:SingleLogoutService "
            "Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect\" "
            "Location=\"https://" +
            host +
            "/idp/profile/SAML2/Redirect/SLO\"/>"
            "<md:NameIDFormat>urn:oasis:names:tc:SAML:2.0:nameid-format:transient</md:NameIDFormat>"
            "<md:SingleSignOnService "
            "Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect\" "
            "Location=\"https://" +
            host +
            "/idp/profile/SAML2/Redirect/SSO\"/>"
            "<md:SingleSignOnService Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST\" "
            "Location=\"https://" +
            host + "/idp/profile/SAML2/POST/SSO\"/></md:IDPSSODescriptor>";
    } else {
        role =
            "<md:SPSSODescriptor "
            "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\">" +
            ui + keys +
            "<md:AssertionConsumerService "
            "Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST\" "
            "Location=\"https://" +
            host +
            "/Shibboleth.sso/SAML2/POST\" index=\"1\"/>"
            "</md:SPSSODescriptor>";
    }
    return "<md:EntityDescriptor entityID=\"" + id + "\">" + role +
           "<md:Organization><md:OrganizationName xml:lang=\"en\">Organization " +
           std::to_string(i) +
           "</md:OrganizationName><md:OrganizationDisplayName xml:lang=\"en\">"
           "Organization " +
           std::to_string(i) +
           "</md:OrganizationDisplayName><md:OrganizationURL "
           "xml:lang=\"en\">https://" +
           host +
           "/</md:OrganizationURL></md:Organization>"
           "<md:ContactPerson contactType=\"technical\"><md:EmailAddress>mailto:admin@" +
           host + "</md:EmailAddress></md:ContactPerson></md:EntityDescriptor>\n";
}

std::string signatureTemplate() {
    return "<ds:Signature><ds:SignedInfo><ds:CanonicalizationMethod "
           "Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/><ds:SignatureMethod "
           "Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/><ds:Reference "
           "URI=\"#_federation-aggregate\"><ds:Transforms><ds:Transform "
           "Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/><ds:Transform "
           "Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/></"
           "ds:Transforms><ds:DigestMethod "
           "Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/><ds:DigestValue/></ds:Reference>"
           "</ds:SignedInfo><ds:SignatureValue/></ds:Signature>";
}

// The aggregate, about kTargetBytes, valid for a week from now.
std::string unsignedAggregate() {
    const std::string certificate = certificateBody(corvane_samples::idpCert());
    const std::string probe = entity(1, certificate, "");
    const std::size_t perEntity = kTargetBytes / kEntities;
    const std::string padding(perEntity > probe.size() ? perEntity - probe.size() : 0, 'd');
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<md:EntitiesDescriptor "
        "xmlns:md=\"urn:oasis:names:tc:SAML:2.0:metadata\" "
        "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" "
        "xmlns:mdui=\"urn:oasis:names:tc:SAML:metadata:ui\" ID=\"_federation-aggregate\" "
        "Name=\"urn:example:federation\" validUntil=\"" +
        corvane::utcDateTime(std::time(nullptr) + 7 * 86400) + "\" cacheDuration=\"PT6H\">" +
        signatureTemplate() + "\n";
    text.reserve(kTargetBytes + 1024 * 1024);
    for (int i = 0; i < kEntities; ++i) text += entity(i, certificate, padding);
    return text + "</md:EntitiesDescriptor>\n";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// The whole file in one read, without the copies of a string stream.
std::string readFile(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        std::rewind(file);
        if (size > 0) {
            text.resize(static_cast<std::size_t>(size));
            text.resize(std::fread(&text[0], 1, text.size(), file));
        }
    }
    std::fclose(file);
    return text;
}

corvane::IdpMetadataOptions pinnedOptions() {
    const corvane::Result<corvane::KeyPtr> signer =
        corvane::Key::loadCertificate(corvane_samples::idpCert());
    if (!signer.ok()) throw std::runtime_error(signer.message());
    corvane::IdpMetadataOptions options;
    options.signerKeys = {signer.value()};
    options.requireValidUntil = true;
    options.maxValidityAheadSeconds = 14 * 86400;
    return options;
}

// What one child process cost: its peak resident size in MB and its CPU
// time (user and system) in seconds, from wait4's rusage; negative when it
// failed.
struct ChildCost {
    double peakMb = -1;
    double cpuSeconds = -1;
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Runs the program to its end.
ChildCost childCost(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ChildCost();
    return {static_cast<double>(usage.ru_maxrss) / 1024.0,
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

std::vector<std::string> xmlsec1Verify() {
    const Inputs& in = inputs();
    return {kXmlsec1,    "--verify",     "--pubkey-cert-pem",
            in.certPath, "--id-attr:ID", "urn:oasis:names:tc:SAML:2.0:metadata:EntitiesDescriptor",
            in.path};
}

void corvaneLoad(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        const corvane::Result<corvane::IdpMetadataPtr> loaded =
            corvane::loadIdpMetadata(in.text, in.options);
        if (!loaded.ok()) {
            state.SkipWithError(loaded.message().c_str());
            return;
        }
        benchmark::DoNotOptimize(loaded.value()->entityCount());
    }
    const ChildCost child = childCost({in.self, "--load-once=" + in.path});
    state.counters["peak_rss_MB"] = child.peakMb;
    state.counters["child_cpu_s"] = child.cpuSeconds;
    state.counters["text_MB"] = static_cast<double>(in.text.size()) / 1e6;
}

void xmlsec1ToolVerify(benchmark::State& state) {
    ChildCost child;
    double cpu = 0;
    for (auto _ : state) {
        child = childCost(xmlsec1Verify());
        if (child.peakMb < 0) {
            state.SkipWithError("xmlsec1 --verify failed");
            return;
        }
        cpu += child.cpuSeconds;
    }
    state.counters["peak_rss_MB"] = child.peakMb;
    state.counters["child_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// The steps of the load that a bare verification does not take or takes
// otherwise: the screening pass, and the hardened parse (freed again).
void partScreen(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            corvane::internal::screenText(in.text, corvane::internal::kMetadataScreening));
    }
}

void partParse(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        corvane::internal::XmlDocPtr doc(corvane::internal::parseXmlSafely(in.text));
        benchmark::DoNotOptimize(doc.get());
    }
}

void lookupFirst(benchmark::State& state) {
    const Inputs& in = inputs();
    const std::vector<std::string>& idps = in.loaded->idpEntityIds();
    std::size_t next = 0;
    for (auto _ : state) {
        const corvane::Result<corvane::IdpDescriptor> idp = in.loaded->idp(idps[next++]);
        if (!idp.ok()) {
            state.SkipWithError(idp.message().c_str());
            return;
        }
        benchmark::DoNotOptimize(idp.value().signingKeys.size());
    }
}

void lookupAgain(benchmark::State& state) {
    const Inputs& in = inputs();
    for (auto _ : state) {
        const corvane::Result<corvane::IdpDescriptor> idp = in.loaded->idp(in.middleIdp);
        if (!idp.ok()) {
            state.SkipWithError(idp.message().c_str());
            return;
        }
        benchmark::DoNotOptimize(idp.value().signingKeys.size());
    }
}

// The child of corvane_load_8000's memory figure: one load, then exit.
int loadOnce(const std::string& path) {
    const std::string text = readFile(path);
    const corvane::Result<corvane::IdpMetadataPtr> loaded =
        corvane::loadIdpMetadata(text, pinnedOptions());
    if (!loaded.ok()) std::fprintf(stderr, "load failed: %s\n", loaded.message().c_str());
    return loaded.ok() ? 0 : 1;
}

void prepare() {
    Inputs& in = inputs();
    char dir[] = "/tmp/corvane-bench-metadata-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("no scratch directory");
    in.path = std::string(dir) + "/aggregate.xml";
    in.certPath = std::string(dir) + "/signer.pem";
    std::string signedText;
    if (!corvane_samples::signWithRootIdReference(unsignedAggregate(), corvane_samples::idpKey(),
                                                  &signedText))
        throw std::runtime_error("cannot sign the aggregate");
    writeFile(in.path, signedText);
    writeFile(in.certPath, corvane_samples::idpCert());
    in.text = std::move(signedText);
    in.options = pinnedOptions();
    const corvane::Result<corvane::IdpMetadataPtr> loaded =
        corvane::loadIdpMetadata(in.text, in.options);
    if (!loaded.ok()) throw std::runtime_error(loaded.message());
    in.loaded = loaded.value();
    const std::vector<std::string>& idps = in.loaded->idpEntityIds();
    in.middleIdp = idps[idps.size() / 2];
    std::fprintf(stderr, "aggregate: %zu bytes, %zu entities, %zu IdPs; %s\n", in.text.size(),
                 in.loaded->entityCount(), idps.size(), in.path.c_str());
}

void cleanUp() {
    const Inputs& in = inputs();
    std::remove(in.path.c_str());
    std::remove(in.certPath.c_str());
    rmdir(in.path.substr(0, in.path.rfind('/')).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    corvane::Result<corvane::Library> library = corvane::Library::start();
    if (!library.ok()) {
        std::fprintf(stderr, "start-up failed: %s\n", library.message().c_str());
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--load-once=", 12) == 0) return loadOnce(argv[i] + 12);
    }
    inputs().self = "/proc/self/exe";
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) inputs().self.assign(self, static_cast<std::size_t>(length));
    prepare();
    benchmark::RegisterBenchmark("metadata/corvane_load_8000", corvaneLoad)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3)
        ->UseRealTime();
    benchmark::RegisterBenchmark("metadata/xmlsec1_tool_verify", xmlsec1ToolVerify)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3)
        ->UseRealTime();
    benchmark::RegisterBenchmark("metadata/part_screen", partScreen)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("metadata/part_parse", partParse)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    // Each IdP once (the one of lookup_again last, so it is not loaded before).
    benchmark::RegisterBenchmark("metadata/lookup_first", lookupFirst)
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(
            static_cast<benchmark::IterationCount>(inputs().loaded->idpEntityIds().size() / 2));
    benchmark::RegisterBenchmark("metadata/lookup_again", lookupAgain)
        ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cleanUp();
    inputs().loaded.reset();
    return 0;
}
