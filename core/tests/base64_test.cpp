#include "quillon/base64.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string enc(const std::string& s) {
    return quillon::base64::encode(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

}  // namespace

TEST(Base64, Rfc4648VectorsAndHighBytes) {
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},     {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) EXPECT_EQ(enc(v[0]), v[1]);
    EXPECT_EQ(enc(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(enc(std::string("\x89PNG\r\n\x1a\n", 8)), "iVBORw0KGgo=");
    std::string big = enc(std::string(100000, 'x'));
    EXPECT_EQ(big.size(), quillon::base64::encoded_length(100000));
    EXPECT_EQ(big.find('\n'), std::string::npos);
}
