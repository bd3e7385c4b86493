// Real IdP responses from the interoperability corpus, one test per row of
// its MANIFEST.tsv: the genuine responses that the library's contract
// covers are accepted with the NameID the manifest records; every attack
// sample and every response with an encrypted assertion is refused and
// leaves nameId untouched.
#include <dirent.h>

#include <algorithm>
#include <cctype>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const std::string kCorpus = CORVANE_INTEROP_DIR;
const char kUntouched[] = "nameId before the call";

struct ManifestRow {
    std::string file, cert, kind, prefix, directChild, nameId, rootIdOnlyVerifies;
    std::string testName;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

// The column's index in the header, or -1.
int column(const std::vector<std::string>& header, const std::string& name) {
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return static_cast<int>(i);
    return -1;
}

std::string testNameFor(const std::string& file) {
    std::string name;
    for (char c : file) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// Empty when the corpus is not there.
std::vector<ManifestRow> loadManifest() {
    std::ifstream in(kCorpus + "/MANIFEST.tsv", std::ios::binary);
    std::vector<ManifestRow> rows;
    std::string line;
    if (!std::getline(in, line)) return rows;
    const std::vector<std::string> header = splitTabs(line);
    const char* names[] = {"file", "cert", "kind", "assertion_prefix",
                           "assertion_is_direct_child_of_root", "nameid", "root_id_only_verifies"};
    std::vector<int> at;
    for (const char* n : names) at.push_back(column(header, n));
    while (std::getline(in, line)) {
        const std::vector<std::string> f = splitTabs(line);
        auto get = [&](size_t i) { return at[i] >= 0 && static_cast<size_t>(at[i]) < f.size() ? f[at[i]] : ""; };
        if (get(0).empty()) continue;
        rows.push_back({get(0), get(1), get(2), get(3), get(4), get(5), get(6), testNameFor(get(0))});
    }
    return rows;
}

const std::vector<ManifestRow>& manifest() {
    static const std::vector<ManifestRow> rows = loadManifest();
    return rows;
}

// The NameID the documented call hands out, where it is not the manifest's
// text: the signed text has white space around it, which the documented
// call drops (Corvane.h). Every other row's NameID holds no white space and
// comes out as the manifest writes it.
const std::map<std::string, std::string> kCondensedNameIds = {
    {"valid/ruby-saml__starfield_response.xml", "trevor.little@starfieldtms.com"},
    {"valid/samael__response_signed_by_idp_2.xml", "_ce3d2948b4cf20146dee0a0b3dd6f69b6cf86f62d7"},
    {"valid/samael__response_signed_by_idp_ecdsa.xml",
     "_ce3d2948b4cf20146dee0a0b3dd6f69b6cf86f62d7"},
    {"valid/node-saml__root-signed.assertion-signed.2advice-signed.xml",
     "vincent.vega@evil-corp.com"},
};

std::string expectedNameId(const ManifestRow& row) {
    const auto condensed = kCondensedNameIds.find(row.file);
    return condensed == kCondensedNameIds.end() ? row.nameId : condensed->second;
}

// White space in the manifest's NameID: a space or one of its escapes.
bool holdsWhiteSpace(const std::string& escaped) {
    return escaped.find(' ') != std::string::npos || escaped.find("\\n") != std::string::npos ||
           escaped.find("\\t") != std::string::npos || escaped.find("\\r") != std::string::npos;
}

// A row without a certificate is checked against any certificate of the
// corpus: the first one in name order.
std::string certificateFor(const ManifestRow& row) {
    if (row.cert != "-") return readFile(kCorpus + "/" + row.cert);
    std::vector<std::string> pems;
    if (DIR* dir = opendir((kCorpus + "/certs").c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0) pems.push_back(name);
        }
        closedir(dir);
    }
    std::sort(pems.begin(), pems.end());
    if (pems.empty()) ADD_FAILURE() << "no certificate in " << kCorpus << "/certs";
    return pems.empty() ? std::string() : readFile(kCorpus + "/certs/" + pems.front());
}

// Genuine responses within the contract: the assertion is "saml:" and a
// direct child of the root, and the first Signature verifies with only the
// root's ID registered.
bool mustBeAccepted(const ManifestRow& row) {
    return row.kind == "valid" && row.prefix == "saml" && row.directChild.rfind("yes", 0) == 0 &&
           row.rootIdOnlyVerifies == "yes";
}

class InteropCorpus : public RecordingTest, public ::testing::WithParamInterface<ManifestRow> {};

TEST_P(InteropCorpus, ResponseIsJudgedAsTheManifestSays) {
    const ManifestRow& row = GetParam();
    const std::string xml = readFile(kCorpus + "/" + row.file);
    ASSERT_FALSE(xml.empty());
    std::string nameId = kUntouched;
    const int status = corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId)
                           ->verifySamlResponse(nameId, xml, certificateFor(row));
    if (mustBeAccepted(row)) {
        EXPECT_EQ(status, 0) << ::testing::PrintToString(Recorder::errors());
        EXPECT_EQ(nameId, expectedNameId(row));
    } else if (row.kind == "attack" || row.kind == "encrypted") {
        EXPECT_NE(status, 0) << row.kind << " sample accepted with NameID " << nameId;
        EXPECT_EQ(nameId, kUntouched);
        EXPECT_FALSE(Recorder::errors().empty());
    } else {
        // Genuine, but outside the contract (another prefix, or a signature
        // over the assertion alone): never a NameID other than the signed one.
        EXPECT_EQ(nameId, status == 0 ? expectedNameId(row) : std::string(kUntouched));
    }
}

std::string rowName(const ::testing::TestParamInfo<ManifestRow>& row) { return row.param.testName; }
void PrintTo(const ManifestRow& row, std::ostream* os) { *os << row.file; }

INSTANTIATE_TEST_SUITE_P(Manifest, InteropCorpus, ::testing::ValuesIn(manifest()), rowName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(InteropCorpus);

TEST(InteropCorpusPresence, ManifestIsReadable) {
    ASSERT_FALSE(manifest().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
    std::size_t accepted = 0;
    for (const ManifestRow& row : manifest()) accepted += mustBeAccepted(row) ? 1 : 0;
    EXPECT_GT(accepted, 0u) << "no row of the manifest falls within the contract";
}

// The table of condensed NameIDs names genuine rows, and every genuine row
// whose NameID holds white space is in it.
TEST(InteropCorpusPresence, CondensedNameIdsCoverEveryNameIdWithWhiteSpace) {
    ASSERT_FALSE(manifest().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
    std::size_t listed = 0;
    for (const ManifestRow& row : manifest()) {
        if (row.kind != "valid") continue;
        const bool inTable = kCondensedNameIds.count(row.file) != 0;
        EXPECT_EQ(inTable, holdsWhiteSpace(row.nameId)) << row.file << ": " << row.nameId;
        listed += inTable ? 1 : 0;
    }
    EXPECT_EQ(listed, kCondensedNameIds.size()) << "a listed file is not a genuine row";
}

}  // namespace
