#include "corvane_test_support.h"
#include "extended_calls.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <sstream>

#include <libxml/parser.h>

namespace corvane_test {

const char* const kWithheldMarker = "[private key withheld]";

namespace {

struct Recording {
    std::vector<LogLine> log;
    std::vector<std::string> errors;
    std::deque<std::string> queuedIds;
    int idCalls = 0;
    const std::string* lastIdTarget = nullptr;
};

Recording& recording() {
    static Recording r;
    return r;
}

}  // namespace

void Recorder::reset() {
    recording() = Recording();
    Extended::reset();
}

const std::vector<LogLine>& Recorder::log() { return recording().log; }

const std::vector<std::string>& Recorder::errors() { return recording().errors; }

std::vector<std::string> Recorder::logAt(int level) {
    std::vector<std::string> out;
    for (const LogLine& line : recording().log)
        if (line.level == level) out.push_back(line.message);
    return out;
}

std::vector<std::string> Recorder::everything() {
    std::vector<std::string> out = recording().errors;
    for (const LogLine& line : recording().log) out.push_back(line.message);
    return out;
}

bool Recorder::anyMessageContains(const std::string& needle) {
    for (const std::string& m : everything())
        if (m.find(needle) != std::string::npos) return true;
    return false;
}

void Recorder::queueId(const std::string& id) { recording().queuedIds.push_back(id); }

int Recorder::idCalls() { return recording().idCalls; }

const std::string* Recorder::lastIdTarget() { return recording().lastIdTarget; }

void recordLog(int level, const std::string& message) {
    recording().log.push_back(LogLine{level, message});
}

void recordError(const std::string& message) { recording().errors.push_back(message); }

void supplyId(std::string& id) {
    Recording& r = recording();
    ++r.idCalls;
    r.lastIdTarget = &id;
    if (r.queuedIds.empty()) {
        id += "_corvane-test-id-" + std::to_string(r.idCalls);
    } else {
        id += r.queuedIds.front();
        r.queuedIds.pop_front();
    }
}

void LibraryEnvironment::SetUp() {
    boost::shared_ptr<corvane::CorvaneBase> helper =
        corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId);
    ASSERT_TRUE(helper);
    ASSERT_EQ(helper->initHelper(), 0);
    Recorder::reset();
}

void LibraryEnvironment::TearDown() {
    EXPECT_EQ(corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId)->finiHelper(), 0);
}

std::string fixturePath(const std::string& name) {
    return std::string(CORVANE_TEST_FIXTURES_DIR) + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return std::string();
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string readFixture(const std::string& name) { return readFile(fixturePath(name)); }

std::string idpKey() { return readFixture("test-idp-key.pem"); }
std::string idpCert() { return readFixture("test-idp-cert.pem"); }
std::string spKey() { return readFixture("test-sp-key.pem"); }
std::string spCert() { return readFixture("test-sp-cert.pem"); }
std::string spKeyAndCert() { return readFixture("test-sp-key-and-cert.pem"); }

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    size_t pos = text.find(from);
    if (pos == std::string::npos) ADD_FAILURE() << "'" << from << "' not found in test text";
    for (; pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

std::string cutOut(const std::string& text, const std::string& begin, const std::string& end) {
    size_t from = text.find(begin);
    size_t to = from == std::string::npos ? from : text.find(end, from);
    if (to == std::string::npos) {
        ADD_FAILURE() << "'" << begin << "'...'" << end << "' not found in test text";
        return text;
    }
    return text.substr(0, from) + text.substr(to + end.size());
}

std::string signatureTemplate(const std::string& referenceUri, SigAlg alg) {
    const bool sha256 = alg == SigAlg::RsaSha256;
    const std::string signatureMethod = sha256
        ? "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"
        : "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
    const std::string digestMethod = sha256 ? "http://www.w3.org/2001/04/xmlenc#sha256"
                                            : "http://www.w3.org/2000/09/xmldsig#sha1";
    return "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">"
           "<ds:SignedInfo>"
           "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "<ds:SignatureMethod Algorithm=\"" + signatureMethod + "\"/>"
           "<ds:Reference URI=\"" + referenceUri + "\">"
           "<ds:Transforms>"
           "<ds:Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<ds:Transform Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "</ds:Transforms>"
           "<ds:DigestMethod Algorithm=\"" + digestMethod + "\"/>"
           "<ds:DigestValue></ds:DigestValue>"
           "</ds:Reference>"
           "</ds:SignedInfo>"
           "<ds:SignatureValue></ds:SignatureValue>"
           "</ds:Signature>";
}

std::string tomorrowUtc() {
    const std::time_t later = std::time(nullptr) + 86400;
    std::tm tm = {};
    gmtime_r(&later, &tm);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &tm);
    return day;
}

long long noonUtc(const std::string& day) {
    std::tm tm = {};
    strptime((day + "T12:00:00").c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    return static_cast<long long>(timegm(&tm));
}

std::string responseTemplate(const std::string& nameIdText) {
    return replaceAll(readFixture("test-response-template.xml"), "{{NAMEID}}", nameIdText);
}

std::string signWithIdpKey(const std::string& unsignedXml) {
    std::string text = unsignedXml;
    const int rc = corvane::signDocument(&text, idpKey());
    EXPECT_EQ(rc, 0) << "test document could not be signed";
    EXPECT_TRUE(Recorder::errors().empty());
    Recorder::reset();
    return text;
}

std::string signedResponse(const std::string& nameIdText) {
    return signWithIdpKey(responseTemplate(nameIdText));
}

namespace {

// Calls visit(begin, end) for each private-key block, end one past the
// closing dashes of its END line.
template <typename Visit>
void forEachPrivateKeyBlock(const std::string& pem, Visit visit) {
    const std::string tail = "PRIVATE KEY-----";
    size_t pos = 0;
    while ((pos = pem.find("-----BEGIN ", pos)) != std::string::npos) {
        const size_t eol = pem.find('\n', pos);
        const size_t headerTail = pem.find(tail, pos);
        if (headerTail == std::string::npos || (eol != std::string::npos && headerTail > eol)) {
            pos += 1;  // not a private-key header
            continue;
        }
        const size_t endLine = pem.find("-----END ", headerTail);
        const size_t end = endLine == std::string::npos ? std::string::npos : pem.find(tail, endLine);
        if (end == std::string::npos) return;
        visit(pos, end + tail.size());
        pos = end + tail.size();
    }
}

}  // namespace

std::vector<std::string> privateKeyBodyLines(const std::string& pemText) {
    std::vector<std::string> lines;
    forEachPrivateKeyBlock(pemText, [&](size_t begin, size_t end) {
        std::istringstream block(pemText.substr(begin, end - begin));
        std::string line;
        while (std::getline(block, line))
            if (!line.empty() && line.find("-----") == std::string::npos &&
                line.find(':') == std::string::npos)
                lines.push_back(line);
    });
    return lines;
}

std::string withPrivateKeysWithheld(const std::string& pemText) {
    std::string out;
    size_t copied = 0;
    forEachPrivateKeyBlock(pemText, [&](size_t begin, size_t end) {
        out += pemText.substr(copied, begin - copied) + kWithheldMarker;
        copied = end;
    });
    return out + pemText.substr(copied);
}

namespace {

void collectTexts(xmlNode* node, const std::string& localName, std::vector<std::string>& out) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        if (localName == reinterpret_cast<const char*>(node->name)) {
            xmlChar* content = xmlNodeGetContent(node);
            out.push_back(content ? reinterpret_cast<const char*>(content) : "");
            xmlFree(content);
        }
        collectTexts(node->children, localName, out);
    }
}

}  // namespace

std::vector<std::string> elementTexts(const std::string& xml, const std::string& localName) {
    std::vector<std::string> texts;
    xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "test.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) {
        ADD_FAILURE() << "test text does not parse:\n" << xml;
        return texts;
    }
    collectTexts(xmlDocGetRootElement(doc), localName, texts);
    xmlFreeDoc(doc);
    return texts;
}

std::string limitedMessage(const std::string& text) {
    return text.size() <= 1023 ? text : text.substr(0, 1023) + "...";
}

int runProgram(const std::string& program, std::vector<std::string> args,
               const std::string& logPath, std::string* output) {
    args.insert(args.begin(), program);
    std::fflush(nullptr);  // the child must not write this process's buffered output again
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(logPath.c_str(), "w", stdout) || dup2(fileno(stdout), 2) < 0) _exit(126);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *output = readFile(logPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace corvane_test
