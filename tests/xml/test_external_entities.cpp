// No parse made by the library loads anything by URI: external general and
// parameter entities and external DTD subsets stay unread, even with
// libxml2's file-reading entity loader in place. Internal entities are
// still substituted.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include "corvane_test_support.h"

namespace {

using namespace corvane_test;

const std::string kMarker = "CORVANE-EXTERNAL-MARKER-6d1f";

std::vector<std::string> loadedUrls;

// Records every load and reads the file, as libxml2's default loader does.
xmlParserInputPtr recordingLoader(const char* url, const char* /*id*/, xmlParserCtxtPtr ctxt) {
    loadedUrls.push_back(url ? url : "(null)");
    return url ? xmlNewInputFromFile(ctxt, url) : nullptr;
}

class ExternalEntities : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        loadedUrls.clear();
        char pattern[] = "/tmp/corvane-entities-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        writeFile(dir_ + "/marker.txt", kMarker);
        writeFile(dir_ + "/marker.ent", "<!ENTITY leak \"" + kMarker + "\">");
        writeFile(dir_ + "/marker.dtd", "<!ENTITY leak \"" + kMarker + "\">");
        watchOpens();
        previousLoader_ = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(recordingLoader);
    }

    void TearDown() override {
        EXPECT_EQ(xmlGetExternalEntityLoader(), recordingLoader)
            << "the library must not replace the process-wide entity loader";
        xmlSetExternalEntityLoader(previousLoader_);
        if (inotify_ >= 0) close(inotify_);
        for (const char* name : {"marker.txt", "marker.ent", "marker.dtd"})
            unlink((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }

    std::string url(const std::string& name) const { return "file://" + dir_ + "/" + name; }

    // Every way of pulling the marker in from outside, wrapped around body.
    std::vector<std::string> hostileDocuments(const std::string& body) const {
        const std::string withEntity = replaceAll(body, "{{VALUE}}", "&x;");
        const std::string withLeak = replaceAll(body, "{{VALUE}}", "&leak;");
        return {
            "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + url("marker.txt") + "\">]>" + withEntity,
            "<!DOCTYPE r [<!ENTITY x PUBLIC \"-//corvane//test\" \"" + url("marker.txt") + "\">]>" + withEntity,
            "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + url("marker.ent") + "\"> %p;]>" + withLeak,
            "<!DOCTYPE r SYSTEM \"" + url("marker.dtd") + "\">" + withLeak,
        };
    }

    // Whether any of the marker files was opened since the last call.
    bool markerFilesOpened() {
        bool opened = false;
        char buffer[4096];
        ssize_t n;
        while ((n = read(inotify_, buffer, sizeof buffer)) > 0) opened = true;
        return opened;
    }

    // Runs one library call with stderr captured: nothing may appear there.
    template <typename Call>
    void runQuietly(Call call, const std::string& what) {
        ::testing::internal::CaptureStderr();
        call();
        const std::string stderrText = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(stderrText, "") << what;
    }

    void expectNothingLoaded(const std::string& what) {
        EXPECT_TRUE(loadedUrls.empty()) << what << ": loader called for " << loadedUrls.front();
        EXPECT_FALSE(markerFilesOpened()) << what << ": a marker file was opened";
        EXPECT_FALSE(Recorder::anyMessageContains(kMarker)) << what;
        loadedUrls.clear();
    }

    std::string dir_;

private:
    void watchOpens() {
        inotify_ = inotify_init1(IN_NONBLOCK);
        ASSERT_GE(inotify_, 0);
        ASSERT_GE(inotify_add_watch(inotify_, dir_.c_str(), IN_OPEN | IN_ACCESS), 0);
    }

    int inotify_ = -1;
    xmlExternalEntityLoader previousLoader_ = nullptr;
};

// The harness itself: a parse that does load external entities is seen.
TEST_F(ExternalEntities, ControlPlainLibxmlParseWithLoadingOnIsDetected) {
    for (const std::string& xml : hostileDocuments("<r>{{VALUE}}</r>")) {
        xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "c.xml", nullptr,
                                    XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_NOERROR |
                                        XML_PARSE_NOWARNING);
        ASSERT_NE(doc, nullptr);
        xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(doc));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), kMarker) << xml;
        xmlFree(text);
        xmlFreeDoc(doc);
        EXPECT_FALSE(loadedUrls.empty());
        EXPECT_TRUE(markerFilesOpened());
        loadedUrls.clear();
    }
}

TEST_F(ExternalEntities, VerifySignatureLoadsNothing) {
    const std::string body = "<r ID=\"_r1\"><v>{{VALUE}}</v>" + signatureTemplate() + "</r>";
    for (const std::string& xml : hostileDocuments(body)) {
        Recorder::reset();
        runQuietly([&] { corvane::verifySignature(xml, idpCert()); }, xml);
        expectNothingLoaded(xml);
    }
}

TEST_F(ExternalEntities, SignDocumentLoadsNothing) {
    const std::string body = "<r ID=\"_r1\"><v>{{VALUE}}</v>" + signatureTemplate() + "</r>";
    for (const std::string& xml : hostileDocuments(body)) {
        Recorder::reset();
        std::string text = xml;
        int rc = 0;
        runQuietly([&] { rc = corvane::signDocument(&text, idpKey()); }, xml);
        EXPECT_TRUE(rc == 0 || rc == -8) << rc;
        if (rc == -8) {
            EXPECT_EQ(text, xml);
            EXPECT_EQ(Recorder::errors().size(), 1u);
        }
        EXPECT_EQ(text.find(kMarker), std::string::npos) << text;
        expectNothingLoaded(xml);
    }
}

TEST_F(ExternalEntities, VerifySamlResponseLoadsNothing) {
    std::string body = responseTemplate("{{VALUE}}");
    body = body.substr(body.find("<samlp:Response"));  // the DOCTYPE goes before the root
    for (const std::string& xml : hostileDocuments(body)) {
        Recorder::reset();
        std::string nameId = "unchanged";
        int rc = 0;
        runQuietly(
            [&] {
                rc = corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr)
                         ->verifySamlResponse(nameId, xml, idpCert());
            },
            xml);
        EXPECT_NE(rc, 0);
        EXPECT_EQ(nameId, "unchanged");
        expectNothingLoaded(xml);
    }
}

// A Reference may not reach outside the document either.
TEST_F(ExternalEntities, VerificationNeverFollowsAFileReference) {
    const std::string xml = "<r ID=\"_r1\"><v>value</v>" + signatureTemplate(url("marker.txt")) + "</r>";
    EXPECT_EQ(corvane::verifySignature(xml, idpCert()), -8);
    EXPECT_EQ(Recorder::errors(),
              std::vector<std::string>{"Can not verify digital signature of SAML token"});
    expectNothingLoaded(xml);
}

// Entities declared in the document itself are substituted: the signature
// covers the expanded text, and the entity reference verifies as well.
TEST_F(ExternalEntities, InternalEntitiesAreSubstituted) {
    const std::string declaration = "<!DOCTYPE r [<!ENTITY who \"internal-value\">]>";
    const std::string signedText =
        signWithIdpKey(declaration + "<r ID=\"_r1\"><v>&who;</v>" + signatureTemplate() + "</r>");
    EXPECT_NE(signedText.find("<v>internal-value</v>"), std::string::npos) << signedText;
    EXPECT_EQ(corvane::verifySignature(signedText, idpCert()), 0);

    const std::string withReference = replaceAll(signedText, "<v>internal-value</v>", "<v>&who;</v>");
    EXPECT_EQ(corvane::verifySignature(withReference, idpCert()), 0);
    const std::string otherValue =
        replaceAll(withReference, "\"internal-value\"", "\"other-value\"");
    EXPECT_EQ(corvane::verifySignature(otherValue, idpCert()), 1);
    EXPECT_TRUE(Recorder::errors().empty());
    expectNothingLoaded("internal entity");
}

}  // namespace
