#include "quillon/base64.hpp"

#include <gtest/gtest.h>

#include <string>

using quillon::base64::encode;
using quillon::base64::encoded_length;

namespace {

std::string enc(const std::string& s) {
    return encode(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(enc(""), "");
    EXPECT_EQ(enc("f"), "Zg==");
    EXPECT_EQ(enc("fo"), "Zm8=");
    EXPECT_EQ(enc("foo"), "Zm9v");
    EXPECT_EQ(enc("foob"), "Zm9vYg==");
    EXPECT_EQ(enc("fooba"), "Zm9vYmE=");
    EXPECT_EQ(enc("foobar"), "Zm9vYmFy");
}

TEST(Base64, HighBytesUseTheLastTwoSymbols) {
    EXPECT_EQ(enc(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(enc(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(enc(std::string("\x89PNG\r\n\x1a\n", 8)), "iVBORw0KGgo=");
}

TEST(Base64, LengthHasNoLineBreaks) {
    std::string big(100000, 'x');
    std::string out = enc(big);
    EXPECT_EQ(out.size(), encoded_length(big.size()));
    EXPECT_EQ(out.find('\n'), std::string::npos);
}
