// The HTTP-Redirect binding's encodings, written independently of the
// library for tests on both sides: URL encoding with either case of hex
// digits, raw DEFLATE with zlib, base64 with OpenSSL, and taking a query
// apart. Each fails the test on input it cannot read.
#ifndef CORVANE_TEST_REDIRECT_CODEC_H
#define CORVANE_TEST_REDIRECT_CODEC_H

#include <string>
#include <vector>

namespace corvane_test {

enum class Hex { Upper, Lower };

// Every octet but the unreserved ones as %XX in the given case; with
// plusForSpace, a space as '+'.
std::string urlEncoded(const std::string& bytes, Hex hex, bool plusForSpace = false);
std::string rawDeflated(const std::string& text);
std::string base64Of(const std::string& bytes);

// The reverse, as the IdP reads what the SP sends: %XX (and '+' a space)
// decoded, OpenSSL's base64 decoding, zlib's raw inflate; each fails the
// test on input it cannot read.
std::string urlDecoded(const std::string& text);
std::string base64Decoded(const std::string& text);
std::string rawInflated(const std::string& data);

// The value of the query parameter name (still encoded), or empty.
std::string parameterOf(const std::string& query, const std::string& name);
// The names of the query's parameters in order.
std::vector<std::string> parameterNames(const std::string& query);

}  // namespace corvane_test

#endif
