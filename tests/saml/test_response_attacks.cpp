// Attacks on Corvane::verifySamlResponse, grouped by class. Every attack is
// made at test time by string surgery on a response that the test IdP key
// signed the way IdPs sign (Reference "#" + root ID, enveloped transform,
// exclusive c14n), signed by the xmlsec1 tool. Where an attack needs the
// signature to survive the surgery, the row first shows that it does
// (verifySignature alone, or the xmlsec1 tool), and where it needs TinyXML
// to read something else, it shows what TinyXML alone would hand out; then
// the response is refused with the exact status and messages and nameId is
// untouched. Each group has honest controls that must still be accepted.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const char kUntouched[] = "nameId before the call";
const char kRootId[] = "_corvane-test-response-1";
const char kResponseNode[] = "urn:oasis:names:tc:SAML:2.0:protocol:Response";
const char kAssertionNode[] = "urn:oasis:names:tc:SAML:2.0:assertion:Assertion";
const char kSignedName[] = "admin@example.com.evil.test";  // what the IdP signed
const char kVictim[] = "admin@example.test";               // what the attacker wants
const char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kFakeAssertion =
    "<saml:Assertion><saml:Subject><saml:NameID>admin@example.test</saml:NameID>"
    "</saml:Subject></saml:Assertion>";

const char kHasNul[] = "SAML token must not contain NUL characters";
const char kNotUtf8[] = "SAML token must be encoded in UTF-8";
const char kHasDtd[] = "SAML token must not contain a DTD";
const char kHasPi[] = "SAML token must not contain processing instructions";
const char kTrailing[] = "SAML token must not contain anything after its root element";
const char kBadCharacter[] = "SAML token contains a character that XML does not allow";
const char kCannotVerify[] = "Can not verify digital signature of SAML token";
const char kSignatureFailed[] = "Signature verification failed";
const char kNotCovered[] = "SAML token NameID is not covered by its signature";
const char kNoNameId[] = "SAML token contains no valid saml:Subject/NameID";
const char kNotWellFormed[] = "XML document with SAML token is not well-formed";

const std::string kDs = "http://www.w3.org/2000/09/xmldsig#";
const std::string kMore = "http://www.w3.org/2001/04/xmldsig-more#";
const std::string kEnc = "http://www.w3.org/2001/04/xmlenc#";
const std::string kExcC14n = "http://www.w3.org/2001/10/xml-exc-c14n#";
const std::string kXslt = "http://www.w3.org/TR/1999/REC-xslt-19991116";

// ---- Signed material -------------------------------------------------------

std::string transform(const std::string& algorithm, const std::string& body = "") {
    return "<ds:Transform Algorithm=\"" + algorithm + "\">" + body + "</ds:Transform>";
}
const std::string kIdpTransforms = transform(kDs + "enveloped-signature") + transform(kExcC14n);

// uriAttr is the whole attribute (` URI="..."`), empty for none.
std::string reference(const std::string& uriAttr, const std::string& transforms,
                      const std::string& digest = kDs + "sha1") {
    return "<ds:Reference" + uriAttr + "><ds:Transforms>" + transforms +
           "</ds:Transforms><ds:DigestMethod Algorithm=\"" + digest +
           "\"/><ds:DigestValue/></ds:Reference>";
}
std::string uri(const std::string& value) { return " URI=\"" + value + "\""; }
const std::string kRootUri = uri(std::string("#") + kRootId);

struct SigSpec {
    std::string references = reference(kRootUri, kIdpTransforms);
    std::string method = kDs + "rsa-sha1";
    std::string c14n = kExcC14n;
    std::string objects;
};

std::string signatureTemplateFor(const SigSpec& s) {
    return "<ds:Signature xmlns:ds=\"" + kDs + "\"><ds:SignedInfo><ds:CanonicalizationMethod "
           "Algorithm=\"" + s.c14n + "\"/><ds:SignatureMethod Algorithm=\"" + s.method + "\"/>" +
           s.references + "</ds:SignedInfo><ds:SignatureValue/>" + s.objects + "</ds:Signature>";
}

size_t signatureBegin(const std::string& xml) { return xml.find("<ds:Signature"); }
size_t signatureEnd(const std::string& xml) {
    const size_t end = xml.find("</ds:Signature>");
    return end == std::string::npos ? end : end + std::strlen("</ds:Signature>");
}
std::string signatureOf(const std::string& xml) {
    return xml.substr(signatureBegin(xml), signatureEnd(xml) - signatureBegin(xml));
}
std::string withoutSignature(const std::string& xml) {
    return xml.substr(0, signatureBegin(xml)) + xml.substr(signatureEnd(xml));
}
// Puts text right before the first occurrence of marker.
std::string insertBefore(const std::string& xml, const std::string& marker, const std::string& text) {
    return replaceAll(xml, marker, text + marker);
}
std::string afterRootStartTag(const std::string& xml, const std::string& text) {
    const size_t end = xml.find('>', xml.find("<samlp:Response")) + 1;
    return xml.substr(0, end) + text + xml.substr(end);
}

// The unsigned response with the signature template before `before` (or
// where the fixture has it, after the Issuer).
std::string unsignedResponse(const std::string& nameId, const SigSpec& spec = SigSpec(),
                             const std::string& before = "") {
    const std::string text = responseTemplate(nameId);
    if (before.empty()) {
        return text.substr(0, signatureBegin(text)) + signatureTemplateFor(spec) +
               text.substr(signatureEnd(text));
    }
    return insertBefore(withoutSignature(text), before, signatureTemplateFor(spec));
}

// Private scratch directory of this process for the xmlsec1 tool, removed
// when the test program ends.
const char* const kScratchFiles[] = {"unsigned.xml", "signed.xml", "verify.xml", "tool-output.txt"};
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char pattern[] = "/tmp/corvane-attacks-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
        if (path.empty()) ADD_FAILURE() << "cannot make a scratch directory";
    }
    ~ScratchDir() {
        for (const char* name : kScratchFiles) unlink((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
};
std::string scratch(const char* name) {
    static const ScratchDir dir;
    return dir.path + "/" + name;
}

// Runs a program (no shell) and returns its exit status; its output goes
// to *output.
int runProgram(const std::vector<std::string>& args, std::string* output) {
    const std::string outPath = scratch("tool-output.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *output = readFile(outPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::vector<std::string> xmlsec1Command(const std::string& action) {
    const std::string program = CORVANE_XMLSEC1_PROGRAM;
    if (access(program.c_str(), X_OK) != 0)
        ADD_FAILURE() << "the xmlsec1 command-line tool is needed (package xmlsec1); found: '"
                      << program << "'";
    return {program, action};
}

void addIdAttrs(std::vector<std::string>* args, const std::vector<std::string>& idNodes) {
    for (const std::string& node : idNodes) {
        args->push_back("--id-attr:ID");
        args->push_back(node);
    }
}

// Signs with the test IdP key through the xmlsec1 tool, with ID attributes
// of the given element types registered; cached per process.
std::string signWithXmlsec1(const std::string& unsignedXml,
                            const std::vector<std::string>& idNodes = {kResponseNode}) {
    static std::map<std::string, std::string> cache;
    std::string key = unsignedXml;
    for (const std::string& node : idNodes) key += '\n' + node;
    if (cache.count(key)) return cache[key];
    const std::string in = scratch("unsigned.xml"), out = scratch("signed.xml");
    writeFile(in, unsignedXml);
    std::vector<std::string> args = xmlsec1Command("--sign");
    args.insert(args.end(), {"--privkey-pem", fixturePath("test-idp-key.pem")});
    addIdAttrs(&args, idNodes);
    args.insert(args.end(), {"--output", out, in});
    std::string output;
    if (runProgram(args, &output) != 0) {
        ADD_FAILURE() << "xmlsec1 could not sign the test response:\n" << output;
        return std::string();
    }
    return cache[key] = readFile(out);
}

bool xmlsec1Verifies(const std::string& xml, const std::vector<std::string>& idNodes) {
    const std::string path = scratch("verify.xml");
    writeFile(path, xml);
    std::vector<std::string> args = xmlsec1Command("--verify");
    args.insert(args.end(), {"--pubkey-cert-pem", fixturePath("test-idp-cert.pem")});
    addIdAttrs(&args, idNodes);
    args.push_back(path);
    std::string output;
    return runProgram(args, &output) == 0;
}

std::string idpSigned(const std::string& nameId = kSignedName, const SigSpec& spec = SigSpec(),
                      const std::string& before = "") {
    return signWithXmlsec1(unsignedResponse(nameId, spec, before));
}
std::string genuine() { return idpSigned(); }

// ---- Observations ----------------------------------------------------------

struct Outcome {
    int status;
    std::string nameId;
    std::vector<std::string> errors;
};

corvane::CorvaneBase& helper() {
    return *corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId);
}

Outcome verifyResponse(const std::string& xml) {
    Recorder::reset();
    Outcome outcome{0, kUntouched, {}};
    outcome.status = helper().verifySamlResponse(outcome.nameId, xml, idpCert());
    outcome.errors = Recorder::errors();
    return outcome;
}

void expectRefused(const Outcome& o, int status, const std::vector<std::string>& errors) {
    EXPECT_EQ(o.status, status);
    EXPECT_EQ(o.errors, errors);
    EXPECT_EQ(o.nameId, kUntouched);
}

void expectAccepted(const Outcome& o, const std::string& nameId) {
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.errors, std::vector<std::string>());
    EXPECT_EQ(o.nameId, nameId);
}

// What a walk over TinyXML's tree alone would hand out ("" for nothing).
std::string tinyXmlWalk(const std::string& xml) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* e = doc.FirstChildElement();
    for (const char* name : {"saml:Assertion", "saml:Subject", "saml:NameID"})
        e = e ? e->FirstChildElement(name) : nullptr;
    const char* text = e ? e->GetText() : nullptr;
    return text ? text : "";
}

// ---- Tables ----------------------------------------------------------------

enum class Alone { NotShown, VerifySignatureAccepts, Xmlsec1Accepts };

struct AttackRow {
    const char* name;
    std::function<std::string()> build;
    Alone alone;
    std::vector<std::string> xmlsec1Ids;  // for Xmlsec1Accepts
    const char* tinyXmlReads;             // null: not shown
    int status;
    std::vector<std::string> errors;
};

struct HonestRow {
    const char* name;
    std::function<std::string()> build;
    std::string nameId;
};

template <typename Row>
std::string rowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }
// Rows are printed by name (gtest would otherwise dump their bytes).
#define PRINTS_BY_NAME(Row) \
    void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }
PRINTS_BY_NAME(AttackRow)
PRINTS_BY_NAME(HonestRow)

class AttackTest : public RecordingTest, public ::testing::WithParamInterface<AttackRow> {};
class HonestControl : public RecordingTest, public ::testing::WithParamInterface<HonestRow> {};

TEST_P(AttackTest, IsRefusedWithNameIdUntouched) {
    const AttackRow& row = GetParam();
    const std::string xml = row.build();
    if (row.alone == Alone::VerifySignatureAccepts) {
        EXPECT_EQ(corvane::verifySignature(xml, idpCert()), 0) << "the surgery broke the signature";
    }
    if (row.alone == Alone::Xmlsec1Accepts) {
        EXPECT_TRUE(xmlsec1Verifies(xml, row.xmlsec1Ids)) << "the surgery broke the signature";
    }
    if (row.tinyXmlReads) {
        EXPECT_EQ(tinyXmlWalk(xml), row.tinyXmlReads) << "TinyXML alone reads something else";
    }
    expectRefused(verifyResponse(xml), row.status, row.errors);
}

TEST_P(HonestControl, IsAcceptedWithExactNameId) {
    expectAccepted(verifyResponse(GetParam().build()), GetParam().nameId);
}

#define ATTACKS(group, rows) \
    INSTANTIATE_TEST_SUITE_P(group, AttackTest, ::testing::ValuesIn(rows), rowName<AttackRow>)
#define HONEST(group, rows) \
    INSTANTIATE_TEST_SUITE_P(group, HonestControl, ::testing::ValuesIn(rows), rowName<HonestRow>)

const Alone kSigOk = Alone::VerifySignatureAccepts;

// -- The two parsers must read one document.

std::string withDecl(const std::string& xml, const std::string& decl) {
    return replaceAll(xml, kDecl, decl);
}
std::string afterDecl(const std::string& xml, const std::string& text) {
    return replaceAll(xml, kDecl, kDecl + text);
}
// "<!--" and "-->" in UTF-7's shifted form: libxml2 decodes them, TinyXML
// reads them as text, so the assertion between is a comment to one only.
std::string utf7HiddenAssertion() {
    const std::string body =
        replaceAll(withDecl(genuine(), "<?xml version=\"1.0\" encoding=\"UTF-7\"?>"), "+", "+-");
    return afterRootStartTag(body, "+ADwAIQAtAC0-" + kFakeAssertion + "+AC0ALQA+-");
}
std::string utf16WithByteOrderMark(const std::string& ascii) {
    std::string out = "\xFE\xFF";
    for (char c : ascii) out += std::string(1, '\0') + c;
    return out;
}

const std::vector<AttackRow> kParserAttacks = {
    {"PrologPiHidesFakeAssertion",
     [] { return afterDecl(genuine(), "<?x ><r>" + kFakeAssertion + "</r><?y ?>"); }, kSigOk, {},
     kVictim, -8, {kHasPi}},
    {"DtdCommentHidesFakeAssertion",
     [] { return afterDecl(genuine(), "<!DOCTYPE r [<!-- ><r>" + kFakeAssertion + "</r> -->]>"); },
     kSigOk, {}, kVictim, -8, {kHasDtd}},
    {"DtdEntityValueHidesFakeAssertion",
     [] { return afterDecl(genuine(), "<!DOCTYPE r [<!ENTITY e \"><r>" + kFakeAssertion + "</r>\">]>"); },
     kSigOk, {}, kVictim, -8, {kHasDtd}},
    {"PiInsideSignatureHidesFakeAssertion",
     [] { return insertBefore(genuine(), "<ds:SignatureValue>", "<?x ></ds:Signature>" +
                              kFakeAssertion + "<ds:Signature><?y ?>"); },
     kSigOk, {}, kVictim, -8, {kHasPi}},
    {"XmlPrefixedPiReadAsDeclarationHidesFakeAssertion",
     [] { return afterDecl(genuine(), "<?xml-stylesheet ><r>" + kFakeAssertion + "</r><?y ?>"); },
     kSigOk, {}, kVictim, -8, {kHasPi}},
    {"SecondXmlDeclarationIsAProcessingInstruction",
     [] { return afterDecl(genuine(), "<?xml version=\"1.0\"?>"); }, Alone::NotShown, {}, nullptr,
     -8, {kHasPi}},
    {"Utf7ShiftedCommentHidesFakeAssertion", utf7HiddenAssertion, kSigOk, {}, kVictim, -8,
     {kNotUtf8}},
    {"Latin1DeclarationIsRefused",
     [] { return withDecl(genuine(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"); }, kSigOk,
     {}, nullptr, -8, {kNotUtf8}},
    {"Utf16DeclarationOnUtf8TextIsRefused",
     [] { return withDecl(genuine(), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"); },
     Alone::NotShown, {}, nullptr, -8, {kNotUtf8}},
    {"Utf16ByteOrderMarkIsRefused", [] { return "\xFF\xFE" + genuine(); }, Alone::NotShown, {},
     nullptr, -8, {kNotUtf8}},
    {"Utf16TranscodedResponseIsRefusedForItsNuls", [] { return utf16WithByteOrderMark(genuine()); },
     kSigOk, {}, "", -8, {kHasNul}},
    {"NulAfterRootIsRefused", [] { return genuine() + std::string("\0<!-- x -->", 11); }, kSigOk,
     {}, nullptr, -8, {kHasNul}},
    {"TextAfterRootIsRefused", [] { return genuine() + "\ntrailing text"; }, Alone::NotShown, {},
     nullptr, -8, {kTrailing}},
    {"ElementAfterRootIsRefused", [] { return genuine() + "<r>" + kFakeAssertion + "</r>"; },
     Alone::NotShown, {}, nullptr, -8, {kTrailing}},
    {"PiAfterRootIsRefused", [] { return genuine() + "<?x ?>"; }, kSigOk, {}, nullptr, -8,
     {kTrailing}},
};
ATTACKS(ParserDifferentials, kParserAttacks);

const std::vector<HonestRow> kParserHonest = {
    {"PrettyPrintedWithUtf8Declaration", genuine, kSignedName},
    {"NoXmlDeclaration", [] { return replaceAll(genuine(), std::string(kDecl) + "\n", ""); },
     kSignedName},
    {"Utf8ByteOrderMark", [] { return "\xEF\xBB\xBF" + genuine(); }, kSignedName},
    {"LowerCaseUtf8Declaration",
     [] { return withDecl(genuine(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>"); }, kSignedName},
    {"CommentsAndWhiteSpaceAroundRoot",
     [] { return afterDecl(genuine(), "\n<!-- before -->") + "\n<!-- after -->\n"; }, kSignedName},
    {"CharacterReferenceAboveByteRangeKeepsAllBits",  // not the low byte 'a'
     [] { return replaceAll(idpSigned("\xC5\xA1" "dmin@example.test"), "\xC5\xA1", "&#x161;"); },
     "\xC5\xA1" "dmin@example.test"},
    {"NonAsciiCharacterReferenceWithUtf8Declaration",
     [] { return replaceAll(idpSigned("jos\xC3\xA9@example.test"), "\xC3\xA9", "&#xE9;"); },
     "jos\xC3\xA9@example.test"},
    {"AstralCharacterReference",
     [] { return replaceAll(idpSigned("a\xF0\x9F\x98\x80" "b"), "\xF0\x9F\x98\x80", "&#x1F600;"); },
     "a\xF0\x9F\x98\x80" "b"},
};
HONEST(ParserDifferentials, kParserHonest);

// -- The NameID handed out is all of the signed NameID.

std::string signatureIntoNameId() {
    const std::string g = genuine();
    return replaceAll(withoutSignature(g), kSignedName,
                      std::string("admin@example.com") + signatureOf(g) + ".evil.test");
}

const std::vector<AttackRow> kTruncationAttacks = {
    {"CommentSplitNameId",
     [] { return replaceAll(genuine(), kSignedName, "admin@example.com<!---->.evil.test"); }, kSigOk,
     {}, "admin@example.com", -7, {kNotCovered}},
    {"CdataSplitNameId",
     [] { return replaceAll(genuine(), kSignedName, "admin@example.com<![CDATA[.evil.test]]>"); },
     kSigOk, {}, "admin@example.com", -7, {kNotCovered}},
    {"GenuineSignatureMovedIntoNameIdText", signatureIntoNameId, kSigOk, {}, "admin@example.com",
     -7, {kNotCovered}},
    {"ByteOrderMarkCharacterSkippedByTinyXmlOnly",
     [] { return idpSigned("\xEF\xBB\xBF" "admin@example.test"); }, kSigOk, {}, kVictim, -8,
     {kBadCharacter}},
    {"CommentBeforeNameIdTextLeavesNoText",
     [] { return replaceAll(genuine(), kSignedName, std::string("<!---->") + kSignedName); },
     kSigOk, {}, "", -7, {kNoNameId}},
};
ATTACKS(NameIdTruncation, kTruncationAttacks);

const std::vector<HonestRow> kTruncationHonest = {
    {"NameIdOnItsOwnIndentedLine", [] { return idpSigned("\n        alice@example.test\n      "); },
     "alice@example.test"},
    {"InnerWhiteSpaceRunsCondensed", [] { return idpSigned("alice \n\t  smith"); }, "alice smith"},
    {"AmpersandAndApostropheEntities",
     [] { return replaceAll(idpSigned("o'brien&amp;co@example.test"), "o'brien", "o&apos;brien"); },
     "o'brien&co@example.test"},
    {"RawUtf8NameId", [] { return idpSigned("jos\xC3\xA9@example.test"); }, "jos\xC3\xA9@example.test"},
    {"WholeNameIdInCdata", [] { return idpSigned("<![CDATA[alice@example.test]]>"); },
     "alice@example.test"},
};
HONEST(NameIdTruncation, kTruncationHonest);

// -- A DTD's ID declarations must not let a signature over another element
//    pass for one over the root.

// TinyXML ends the DOCTYPE at its first '>' and the entity's at the '>' in
// its value; the "<!--" there opens a comment for TinyXML alone, which the
// comment after the DTD closes. So TinyXML still finds the forged root.
std::string idDtd(const std::string& element) {
    return "<!DOCTYPE samlp:Response [<!ATTLIST " + element +
           " ID ID #IMPLIED><!ENTITY e \"><!--\">]><!-- -->\n";
}
const std::string kIdDtd = idDtd("samlp:Response");
const std::string kAssertionIdDtd = idDtd("saml:Assertion");

// A forged root with the attacker's assertion first, wrapping the genuine
// response; the genuine Signature is moved up under the forged root or
// left where it was.
std::string wrappedGenuine(const std::string& dtd, bool moveSignature) {
    const std::string g = genuine();
    const std::string original = g.substr(g.find("<samlp:Response"));
    const std::string inner = moveSignature ? withoutSignature(original) : original;
    return std::string(kDecl) + "\n" + dtd +
           "<samlp:Response xmlns:samlp=\"urn:oasis:names:tc:SAML:2.0:protocol\" "
           "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\" ID=\"_forged\">" +
           (moveSignature ? signatureOf(original) : "") + kFakeAssertion +
           "<samlp:Extensions>" + inner + "</samlp:Extensions></samlp:Response>";
}

// The IdP signed only its assertion; a forged assertion goes first.
std::string forgedBeforeSignedAssertion() {
    SigSpec spec;
    spec.references = reference(uri("#_corvane-test-assertion-1"), kIdpTransforms);
    const std::string text = replaceAll(
        signWithXmlsec1(unsignedResponse(kSignedName, spec), {kAssertionNode}), "<saml:Assertion ID",
        kFakeAssertion + "<saml:Assertion ID");
    return afterDecl(text, "\n" + kAssertionIdDtd);
}

const std::vector<AttackRow> kDtdAttacks = {
    {"DtdIdOnNestedGenuineResponse", [] { return wrappedGenuine(kIdDtd, false); },
     Alone::Xmlsec1Accepts, {}, kVictim, -8, {kHasDtd}},
    {"DtdIdWithSignatureMovedUnderForgedRoot", [] { return wrappedGenuine(kIdDtd, true); },
     Alone::Xmlsec1Accepts, {}, kVictim, -8, {kHasDtd}},
    {"DtdIdOnSignedAssertionAfterForgedOne", forgedBeforeSignedAssertion, Alone::Xmlsec1Accepts, {},
     kVictim, -8, {kHasDtd}},
    {"ToolIdOnNestedResponseWithoutDtd", [] { return wrappedGenuine("", true); },
     Alone::Xmlsec1Accepts, {kResponseNode}, kVictim, -7, {kCannotVerify, kSignatureFailed}},
};
ATTACKS(DtdIdWrapping, kDtdAttacks);

// The signature layer on its own refuses them too: the Reference does not
// name the root.
class DtdWrappingAtSignatureLayer : public AttackTest {};
TEST_P(DtdWrappingAtSignatureLayer, IsRefusedBecauseTheReferenceIsNotTheRoot) {
    const std::string xml = GetParam().build();
    Recorder::reset();
    EXPECT_EQ(corvane::verifySignature(xml, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kCannotVerify});
}
INSTANTIATE_TEST_SUITE_P(DtdIdWrapping, DtdWrappingAtSignatureLayer, ::testing::ValuesIn(kDtdAttacks),
                         rowName<AttackRow>);

const std::vector<HonestRow> kDtdHonest = {
    {"RootIdReference", genuine, kSignedName},
};
HONEST(DtdIdWrapping, kDtdHonest);

// -- Signature placement: only a Signature directly under the root binds.

std::string signatureMovedBefore(const std::string& marker) {
    const std::string g = genuine();
    return insertBefore(withoutSignature(g), marker, signatureOf(g));
}

const std::vector<AttackRow> kPlacementAttacks = {
    {"SignatureMovedIntoAssertion", [] { return signatureMovedBefore("<saml:Subject>"); }, kSigOk, {},
     kSignedName, -7, {kNotCovered}},
    {"SignatureMovedIntoSubject", [] { return signatureMovedBefore("<saml:NameID"); }, kSigOk, {},
     kSignedName, -7, {kNotCovered}},
    {"SignatureMovedIntoStatus", [] { return signatureMovedBefore("<samlp:StatusCode"); }, kSigOk,
     {}, kSignedName, -7, {kNotCovered}},
};
ATTACKS(SignaturePlacement, kPlacementAttacks);

const std::vector<HonestRow> kPlacementHonest = {
    {"FirstChildOfRoot", [] { return idpSigned(kSignedName, SigSpec(), "<saml:Issuer>"); }, kSignedName},
    {"AfterIssuer", genuine, kSignedName},
    {"BeforeAssertion", [] { return idpSigned(kSignedName, SigSpec(), "<saml:Assertion"); }, kSignedName},
    {"LastChildOfRoot", [] { return idpSigned(kSignedName, SigSpec(), "</samlp:Response>"); }, kSignedName},
    {"MovedAfterSigningStillDirectlyUnderRoot", [] { return signatureMovedBefore("<saml:Assertion"); },
     kSignedName},
    {"EmptyUriSignedByTheLibrary", [] { return signedResponse(kSignedName); }, kSignedName},
};
HONEST(SignaturePlacement, kPlacementHonest);

// -- Work before authentication: only allowlisted algorithms ever run.

struct AlgorithmRow {
    const char* name;
    SigSpec spec;
    bool signable;        // the xmlsec1 tool can sign it; else left unsigned
    std::string refused;  // the algorithm URI refused at the check
};
PRINTS_BY_NAME(AlgorithmRow)

SigSpec withTransforms(const std::string& transforms, const std::string& refUri = kRootUri) {
    SigSpec s;
    s.references = reference(refUri, transforms);
    return s;
}
SigSpec withDigest(const std::string& digest) {
    SigSpec s;
    s.references = reference(kRootUri, kIdpTransforms, digest);
    return s;
}
SigSpec withMethod(const std::string& method, const std::string& digest = kDs + "sha1",
                   const std::string& c14n = kExcC14n) {
    SigSpec s = withDigest(digest);
    s.method = method;
    s.c14n = c14n;
    return s;
}

const std::string kXsltBody =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/\"><n><xsl:value-of select=\"count(//*)\"/></n></xsl:template>"
    "</xsl:stylesheet>";
const std::string kXPath = "http://www.w3.org/TR/1999/REC-xpath-19991116";
const std::string kXPath2 = "http://www.w3.org/2002/06/xmldsig-filter2";
const std::string kXPtr = "http://www.w3.org/2001/04/xmldsig-more/xptr";

const std::vector<AlgorithmRow> kAlgorithmAttacks = {
    {"XsltTransform", withTransforms(kIdpTransforms + transform(kXslt, kXsltBody)), true, kXslt},
    {"XPathFilterTransform",
     withTransforms(transform(kXPath, "<ds:XPath>not(ancestor-or-self::ds:Signature)</ds:XPath>") +
                    transform(kExcC14n)), true, kXPath},
    {"XPathFilter2Transform",
     withTransforms(transform(kXPath2, "<f:XPath xmlns:f=\"" + kXPath2 +
                                           "\" Filter=\"subtract\">//ds:Signature</f:XPath>") +
                    transform(kExcC14n)), true, kXPath2},
    {"XPointerTransform",
     withTransforms(transform(kXPtr, "<p:XPointer xmlns:p=\"" + kXPtr +
                                         "\">xpointer(id('_corvane-test-response-1'))</p:XPointer>") +
                    kIdpTransforms, uri("")), true, kXPtr},
    {"Base64Transform", withTransforms(kIdpTransforms + transform(kDs + "base64")), false,
     kDs + "base64"},
    {"Md5Digest", withDigest(kMore + "md5"), true, kMore + "md5"},
    {"RsaMd5SignatureMethod", withMethod(kMore + "rsa-md5"), true, kMore + "rsa-md5"},
    {"HmacSha1SignatureMethod", withMethod(kDs + "hmac-sha1"), false, kDs + "hmac-sha1"},
};

class AlgorithmAllowlist : public RecordingTest, public ::testing::WithParamInterface<AlgorithmRow> {};

TEST_P(AlgorithmAllowlist, IsRefusedAtTheCheckBeforeItRuns) {
    const AlgorithmRow& row = GetParam();
    const std::string text = unsignedResponse(kSignedName, row.spec);
    const std::string xml = row.signable ? signWithXmlsec1(text) : text;
    if (row.signable) {
        EXPECT_TRUE(xmlsec1Verifies(xml, {kResponseNode}));
    }
    Recorder::reset();
    EXPECT_EQ(corvane::verifySignature(xml, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kCannotVerify});
    EXPECT_TRUE(Recorder::anyMessageContains("transform is disabled:href=" + row.refused))
        << "not refused by the allowlist";
    expectRefused(verifyResponse(xml), -7, {kCannotVerify, kSignatureFailed});
}
INSTANTIATE_TEST_SUITE_P(WorkBeforeAuthentication, AlgorithmAllowlist,
                         ::testing::ValuesIn(kAlgorithmAttacks), rowName<AlgorithmRow>);

SigSpec manifestInObject() {
    SigSpec s;
    s.objects = "<ds:Object><ds:Manifest>" +
                reference(kRootUri, kIdpTransforms + transform(kXslt, kXsltBody)) +
                "</ds:Manifest></ds:Object>";
    return s;
}

const std::vector<HonestRow> kAlgorithmHonest = {
    {"RsaSha256", [] { return idpSigned(kSignedName, withMethod(kMore + "rsa-sha256", kEnc + "sha256")); },
     kSignedName},
    {"RsaSha384", [] { return idpSigned(kSignedName, withMethod(kMore + "rsa-sha384", kMore + "sha384")); },
     kSignedName},
    {"RsaSha512", [] { return idpSigned(kSignedName, withMethod(kMore + "rsa-sha512", kEnc + "sha512")); },
     kSignedName},
    {"RsaSha1WithSha256Digest", [] { return idpSigned(kSignedName, withDigest(kEnc + "sha256")); },
     kSignedName},
    {"InclusiveC14nWithComments",
     [] { return idpSigned(kSignedName, withMethod(kDs + "rsa-sha1", kDs + "sha1",
                           "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments")); },
     kSignedName},
    {"C14n11",
     [] { return idpSigned(kSignedName, withMethod(kDs + "rsa-sha1", kDs + "sha1",
                                                   "http://www.w3.org/2006/12/xml-c14n11")); },
     kSignedName},
    {"ManifestWithXsltIsNeverProcessed", [] { return idpSigned(kSignedName, manifestInObject()); },
     kSignedName},
};
HONEST(WorkBeforeAuthentication, kAlgorithmHonest);

// -- Reference binding: one Reference, naming the root, checked before
//    xmlsec1 resolves anything.

struct BindingRow {
    const char* name;
    std::function<std::string()> build;
    bool toolVerifies;  // the xmlsec1 tool accepts it with both ID types
};
PRINTS_BY_NAME(BindingRow)

std::string signedWithReferences(const std::string& references,
                                 const std::string& assertionAttributes = "") {
    SigSpec spec;
    spec.references = references;
    const std::string text = unsignedResponse(kSignedName, spec);
    return signWithXmlsec1(assertionAttributes.empty() ? text
                               : replaceAll(text, "<saml:Assertion ID",
                                            "<saml:Assertion" + assertionAttributes + " ID"),
                           {kResponseNode, kAssertionNode});
}
std::string genuineWithUri(const std::string& uriAttr) {
    return replaceAll(genuine(), kRootUri, uriAttr);
}

const std::vector<BindingRow> kBindingAttacks = {
    {"TwoReferencesRootAndAssertion",
     [] { return signedWithReferences(reference(kRootUri, kIdpTransforms) +
                                      reference(uri("#_corvane-test-assertion-1"), kIdpTransforms)); },
     true},
    {"ReferenceToAssertionId",
     [] { return signedWithReferences(reference(uri("#_corvane-test-assertion-1"), kIdpTransforms)); },
     true},
    {"ReferenceToXmlIdOfAssertion",
     [] { return signedWithReferences(reference(uri("#a1"), kIdpTransforms), " xml:id=\"a1\""); },
     true},
    {"XPointerWholeDocument",
     [] { return signedWithReferences(reference(uri("#xpointer(/)"), kIdpTransforms)); }, true},
    {"XPointerIdOfRoot",
     [] { return signedWithReferences(reference(uri("#xpointer(id('_corvane-test-response-1'))"),
                                                kIdpTransforms)); },
     true},
    {"UriAbsent", [] { return signedWithReferences(reference("", kIdpTransforms)); }, true},
    {"BareNumberSign", [] { return genuineWithUri(uri("#")); }, false},
    {"ExternalUri", [] { return genuineWithUri(uri("http://idp.example.test/response.xml")); }, false},
};

class ReferenceBinding : public RecordingTest, public ::testing::WithParamInterface<BindingRow> {};

// Refused with -8 and not 1, and before xmlsec1 logged anything: the
// Reference never reached xmlsec1.
TEST_P(ReferenceBinding, IsRefusedBeforeXmlsecResolvesIt) {
    const std::string xml = GetParam().build();
    if (GetParam().toolVerifies) {
        EXPECT_TRUE(xmlsec1Verifies(xml, {kResponseNode, kAssertionNode}));
    }
    Recorder::reset();
    EXPECT_EQ(corvane::verifySignature(xml, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kCannotVerify});
    EXPECT_EQ(Recorder::logAt(1), std::vector<std::string>());
    expectRefused(verifyResponse(xml), -7, {kCannotVerify, kSignatureFailed});
}
INSTANTIATE_TEST_SUITE_P(ReferenceBinding, ReferenceBinding, ::testing::ValuesIn(kBindingAttacks),
                         rowName<BindingRow>);

const std::vector<HonestRow> kBindingHonest = {
    {"RootIdReference", genuine, kSignedName},
    {"EmptyUri", [] { return signedResponse(kSignedName); }, kSignedName},
    {"EmptyUriOnRootWithoutId",
     [] { return signWithIdpKey(replaceAll(responseTemplate(kSignedName),
                                           " ID=\"_corvane-test-response-1\"", "")); },
     kSignedName},
};
HONEST(ReferenceBinding, kBindingHonest);

// -- Resource bounds. Every call runs in a child process, so that a crash
//    is reported as such instead of ending the test program.

struct IsolatedOutcome {
    Outcome outcome{0, kUntouched, {}};
    // The signal that ended the child, or -1 when it exited with a failure
    // code (under valgrind: memory errors in the child).
    int signal = 0;
};

// The outcome travels as lines: status, nameId, then each error message
// (none of them holds a line break).
IsolatedOutcome verifyInChild(const std::string& xml) {
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const rlimit noCore = {0, 0};  // a crash is reported, not dumped
        setrlimit(RLIMIT_CORE, &noCore);
        const Outcome o = verifyResponse(xml);
        std::string wire = std::to_string(o.status) + "\n" + o.nameId + "\n";
        for (const std::string& e : o.errors) wire += e + "\n";
        for (size_t done = 0; done < wire.size();) {
            const ssize_t n = write(fds[1], wire.data() + done, wire.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string wire;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) wire.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    IsolatedOutcome result;
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || wire.empty()) result.signal = -1;
    if (result.signal != 0) return result;
    std::istringstream lines(wire);
    std::string line;
    std::getline(lines, line);
    result.outcome.status = std::stoi(line);
    std::getline(lines, result.outcome.nameId);
    while (std::getline(lines, line)) result.outcome.errors.push_back(line);
    return result;
}

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// The screening's message for the construct starting at pos.
std::string malformedAt(const std::string& xml, size_t pos, const std::string& what) {
    const size_t lastNewline = xml.rfind('\n', pos);
    const size_t line = 1 + static_cast<size_t>(std::count(xml.begin(), xml.begin() + pos, '\n'));
    const size_t col = lastNewline == std::string::npos ? pos + 1 : pos - lastNewline;
    return "Malformed XML in SAML token: " + what + " line: " + std::to_string(line) +
           " col: " + std::to_string(col);
}

const size_t kHuge = 200000;
const char kTooDeep[] = "elements nested too deeply";
const char kTooManyAttributes[] = "element has too many attributes";

// `count` <x> elements opened right after <saml:Subject> (depth 3), closed
// or not; the 254th of them is the first one deeper than 256.
struct Nested {
    std::string xml;
    std::string expected;
};
Nested nestedInSubject(size_t count, bool closed) {
    const std::string g = genuine();
    const size_t at = g.find("<saml:Subject>") + std::strlen("<saml:Subject>");
    const std::string xml = g.substr(0, at) + repeat("<x>", count) +
                            (closed ? repeat("</x>", count) : "") + g.substr(at);
    return {xml, malformedAt(xml, at + 253 * 3, kTooDeep)};
}
Nested attributesOnExtension(size_t count) {
    const std::string g = genuine();
    const size_t at = g.find("<samlp:Status>");
    std::string attributes;
    for (size_t i = 0; i < count; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
    const std::string xml = g.substr(0, at) + "<samlp:Extensions" + attributes + "/>" + g.substr(at);
    return {xml, malformedAt(xml, at, kTooManyAttributes)};
}

struct BoundRow {
    const char* name;
    std::function<Nested()> build;
};
PRINTS_BY_NAME(BoundRow)

const std::vector<BoundRow> kBoundAttacks = {
    {"TwoHundredThousandNestedElements", [] { return nestedInSubject(kHuge, true); }},
    {"TwoHundredThousandUnclosedElements", [] { return nestedInSubject(kHuge, false); }},
    {"OneLevelBeyondTheLimit", [] { return nestedInSubject(254, true); }},
    {"HundredThousandAttributes", [] { return attributesOnExtension(100000); }},
    {"OneAttributeBeyondTheLimit", [] { return attributesOnExtension(257); }},
};

class ResourceBounds : public RecordingTest, public ::testing::WithParamInterface<BoundRow> {};

TEST_P(ResourceBounds, IsRefusedAsMalformedWithoutCrashing) {
    const Nested n = GetParam().build();
    const IsolatedOutcome r = verifyInChild(n.xml);
    ASSERT_EQ(r.signal, 0) << "verifySamlResponse crashed or its process ended abnormally";
    expectRefused(r.outcome, -8, {n.expected});
}
INSTANTIATE_TEST_SUITE_P(StackExhaustion, ResourceBounds, ::testing::ValuesIn(kBoundAttacks),
                         rowName<BoundRow>);

// Text that TinyXML and the depth check read differently: TinyXML skips a
// vertical tab or U+FEFF as white space, and in UTF-8 mode lets a lead byte
// swallow the bytes after it ('<', a quote). Each hides 200,000 nested
// elements from the depth check.
const std::string kDeep = repeat("<x>", kHuge);
std::string rootStartTagOfGenuine(const std::string& extraAttributes) {
    const std::string g = genuine();
    const size_t end = g.find('>', g.find("<samlp:Response"));
    return g.substr(0, end) + extraAttributes + ">";
}
std::string deepInSubject(const std::string& xml, const std::string& prefix) {
    return replaceAll(xml, "<saml:Subject>", "<saml:Subject>" + prefix + kDeep);
}

struct BypassRow {
    const char* name;
    std::function<std::string()> build;
    const char* message;
};
PRINTS_BY_NAME(BypassRow)

const std::vector<BypassRow> kScreeningBypasses = {
    {"VerticalTabBeforeRoot", [] { return deepInSubject(afterDecl(genuine(), "\n\v"), ""); },
     kBadCharacter},
    {"ByteOrderMarkCharacterBeforeRoot",
     [] { return deepInSubject(afterDecl(genuine(), "\n\xEF\xBB\xBF"), ""); }, kBadCharacter},
    {"InvalidLeadByteBeforeComment", [] { return deepInSubject(genuine(), "\xE0<!--"); }, kNotUtf8},
    {"InvalidLeadByteInXmlDeclaration",
     [] { return deepInSubject(withDecl(genuine(), "<?xml version=\"1.0\xE0\"?><!--\"?>"), ""); },
     kNotUtf8},
    {"InvalidLeadByteInAttributeValue",
     [] { return rootStartTagOfGenuine(" a=\"\xE0\"><!--\"") + kDeep; }, kNotUtf8},
    {"ByteOrderMarkCharacterBeforeAttributeQuote",
     [] { return rootStartTagOfGenuine(" a=\xEF\xBB\xBF'  b=\"'") + kDeep; }, kBadCharacter},
    {"VerticalTabBeforeAttributeQuote", [] { return rootStartTagOfGenuine(" a=\v'  b=\"'") + kDeep; },
     kBadCharacter},
    {"TruncatedUtf8SequenceAtEndOfText",  // TinyXML would read past the end
     [] { const std::string g = genuine(); return g.substr(0, g.find(kSignedName)) + "admin\xF0"; },
     kNotUtf8},
};

class ScreeningBypass : public RecordingTest, public ::testing::WithParamInterface<BypassRow> {};

// Refused by the screening, before either parser runs, and without a crash.
TEST_P(ScreeningBypass, IsRefusedWithoutCrashing) {
    const IsolatedOutcome r = verifyInChild(GetParam().build());
    ASSERT_EQ(r.signal, 0) << "verifySamlResponse crashed or its process ended abnormally";
    expectRefused(r.outcome, -8, {GetParam().message});
}
INSTANTIATE_TEST_SUITE_P(StackExhaustion, ScreeningBypass, ::testing::ValuesIn(kScreeningBypasses),
                         rowName<BypassRow>);

TEST(StackExhaustionAtSignatureLayer, TwoHundredThousandNestedElementsAreNotWellFormed) {
    const std::string xml = nestedInSubject(kHuge, true).xml;
    Recorder::reset();
    EXPECT_EQ(corvane::verifySignature(xml, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{kNotWellFormed});
}

// Large but within the bounds: accepted, the signature covering it all.
std::string signedWithExtension(const std::string& content, const std::string& nameId = kSignedName) {
    return signWithXmlsec1(insertBefore(unsignedResponse(nameId), "<samlp:Status>",
                                        "<samlp:Extensions>" + content + "</samlp:Extensions>"));
}
std::string attributes(size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return out;
}
const std::string kLongName = repeat("n", 1000000) + "@example.test";

const std::vector<HonestRow> kBoundHonest = {
    // Response 1, Extensions 2, e at 3..256.
    {"NestingExactlyAtTheLimit", [] { return signedWithExtension(repeat("<e>", 254) + repeat("</e>", 254)); },
     kSignedName},
    {"AttributesExactlyAtTheLimit", [] { return signedWithExtension("<e" + attributes(256) + "/>"); },
     kSignedName},
    {"HundredThousandSiblings", [] { return signedWithExtension(repeat("<e/>", 100000)); }, kSignedName},
    {"MegabyteNameId", [] { return idpSigned(kLongName); }, kLongName},
};
HONEST(StackExhaustion, kBoundHonest);

// -- Input cost and size. The namespace bounds and the size limit refuse a
//    text before either parser reads it; within them every honest shape
//    is accepted.

const size_t kLimit = 2 * 1024 * 1024;
const char kTooLargeByOne[] =
    "SAML message of 2097153 bytes is larger than the limit of 2097152 bytes";
const char kTooManyDeclarations[] = "element declares too many namespaces";
const char kTooManyInScope[] = "too many namespace declarations in scope";

// " xmlns:p<tag>_<k>='urn:k'" for k below count.
std::string declarations(int tag, int count) {
    std::string out;
    for (int k = 0; k < count; ++k)
        out += " xmlns:p" + std::to_string(tag) + "_" + std::to_string(k) + "=\"urn:" + std::to_string(k) + "\"";
    return out;
}
// `depth` nested elements declaring `perElement` prefixes each, `leaves`
// prefixed names (the outermost prefix, one prefixed attribute) below.
std::string nestedDeclarations(int depth, int perElement, size_t leaves) {
    std::string open, close;
    for (int d = 0; d < depth; ++d) {
        open += "<e" + declarations(d, perElement) + ">";
        close += "</e>";
    }
    return open + repeat("<p0_0:x p0_0:a=\"\"/>", leaves) + close;
}
// The genuine response with content put into it after signing.
std::string genuineWith(const std::string& content) {
    return insertBefore(genuine(), "<samlp:Status>", content);
}
// The genuine response padded by a trailing comment to exactly `size`
// bytes, with `inside` put into the comment's place first.
std::string genuinePaddedTo(size_t size, const std::string& before = "") {
    const std::string text = before.empty() ? genuine() : afterDecl(genuine(), before);
    return text + "<!--" + std::string(size - text.size() - 7, 'x') + "-->";
}

const std::vector<AttackRow> kCostAttacks = {
    // Checked before anything reads the text: the DTD (or NUL) it carries
    // would otherwise be refused for itself.
    {"OneByteOverTheSizeLimit", [] { return genuinePaddedTo(kLimit + 1); }, Alone::NotShown, {},
     nullptr, -8, {kTooLargeByOne}},
    {"OverTheSizeLimitWithADtd",
     [] { return genuinePaddedTo(kLimit + 1, "<!DOCTYPE r [<!ENTITY e \"x\">]>"); },
     Alone::NotShown, {}, nullptr, -8, {kTooLargeByOne}},
    {"OverTheSizeLimitWithANul",
     [] { return genuinePaddedTo(kLimit + 1, std::string("<!--\0-->", 8)); }, Alone::NotShown,
     {}, nullptr, -8, {kTooLargeByOne}},
    {"TenMegabytesOfEmptyElements", [] { return genuineWith(repeat("<e/>", 10 * 1024 * 1024 / 4)); },
     Alone::NotShown, {}, nullptr, -8,
     {"SAML message of " + std::to_string(genuine().size() + 10 * 1024 * 1024) +
      " bytes is larger than the limit of 2097152 bytes"}},
};
ATTACKS(InputCost, kCostAttacks);

TEST_F(RecordingTest, TwoHundredFiftyPrefixesOnEachOfTwoHundredFiftyElementsAreRefusedAtTheFirst) {
    const std::string xml = genuineWith(nestedDeclarations(250, 250, 1000));
    expectRefused(verifyResponse(xml), -8,
                  {malformedAt(xml, xml.find("<e xmlns"), kTooManyDeclarations)});
}

TEST_F(RecordingTest, DeclarationsInScopeAreRefusedAtTheOneTooMany) {
    // The root declares two prefixes: the 32nd element of 64 each is over.
    const std::string xml = genuineWith(nestedDeclarations(32, 64, 1));
    expectRefused(verifyResponse(xml), -8,
                  {malformedAt(xml, xml.find("<e xmlns:p31_0"), kTooManyInScope)});
}

TEST_F(RecordingTest, NamesResolvedThroughTooManyDeclarationsAreRefusedBeforeParsing) {
    const Outcome o = verifyResponse(genuineWith(nestedDeclarations(250, 5, 70000)));
    EXPECT_EQ(o.status, -8);
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0].rfind("Malformed XML in SAML token: names need too many namespace "
                                "resolution steps line: ", 0), 0u) << o.errors[0];
    EXPECT_EQ(o.nameId, kUntouched);
}

std::string manyAttributes(size_t bytes) {
    const std::string element = "<e" + attributes(50) + "/>";
    return repeat(element, bytes / element.size());
}

const std::vector<HonestRow> kCostHonest = {
    {"ExactlyAtTheSizeLimit", [] { return genuinePaddedTo(kLimit); }, kSignedName},
    {"OneAndAHalfMegabytesOfAttributes",
     [] { return signedWithExtension(manyAttributes(1536 * 1024)); }, kSignedName},
    {"TwoHundredFiftyNestedWithFiveDeclarationsEachAndPrefixedNamesBelow",
     [] { return signedWithExtension(nestedDeclarations(250, 5, 20)); }, kSignedName},
    {"SixtyFourDeclarationsOnOneElement",
     [] { return signedWithExtension("<e" + declarations(0, 64) + "/>"); }, kSignedName},
    // Documented: the NameID handed out is condensed, not the signed text.
    {"PrettyPrintedNameIdIsCondensed", [] { return idpSigned("\n      admin@example.test\n    "); },
     "admin@example.test"},
};
HONEST(InputCost, kCostHonest);

// -- libxml2 reports nothing on stderr: a relative namespace URI in the
//    signed tree makes exclusive c14n fail, and its report goes to the log.

struct StderrOutcome {
    Outcome outcome;
    std::string stderrText;
};
StderrOutcome verifyCapturingStderr(const std::string& xml) {
    ::testing::internal::CaptureStderr();
    Outcome o = verifyResponse(xml);
    return {o, ::testing::internal::GetCapturedStderr()};
}

TEST_F(RecordingTest, RelativeNamespaceUriInTheSignedTreeIsReportedInTheLogNotOnStderr) {
    const StderrOutcome relative =
        verifyCapturingStderr(genuineWith("<x:note xmlns:x=\"relative/uri\"/>"));
    EXPECT_EQ(relative.stderrText, "");
    expectRefused(relative.outcome, -7, {kCannotVerify, kSignatureFailed});
    const std::vector<std::string> logged = Recorder::logAt(1);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "libxml2: Relative namespace UR is invalid here : (null)"),
              logged.end())
        << "the c14n report is not in the log";
    // xmlsec1's report quotes libxml2's message: its newline arrives escaped.
    EXPECT_NE(std::find_if(logged.begin(), logged.end(),
                           [](const std::string& line) {
                               return line.find("processing docs children list\\n") != std::string::npos;
                           }),
              logged.end());
    const StderrOutcome honest = verifyCapturingStderr(genuine());
    EXPECT_EQ(honest.stderrText, "");
    expectAccepted(honest.outcome, kSignedName);
    EXPECT_TRUE(Recorder::log().empty());
}

}  // namespace
