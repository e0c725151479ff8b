// The parser of the kept management address file.
#include <gtest/gtest.h>

#include <string>

#include "reserved_ip.h"

namespace {

struct Case {
    std::string text;
    ReservedVerdict verdict;
    const char *ip, *mask, *gateway;  // expected fields when accepted
};

TEST(ReservedAddress, ParseTable) {
    using V = ReservedVerdict;
    const Case cases[] = {
        // As the factory reset writes it.
        {"192.168.0.50,255.255.255.0,192.168.0.1,", V::Accepted, "192.168.0.50", "255.255.255.0",
         "192.168.0.1"},
        {"10.0.0.5,255.0.0.0,10.0.0.1", V::Accepted, "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        // No default gateway: the address and mask still count.
        {"10.0.0.5,255.0.0.0,,", V::Accepted, "10.0.0.5", "255.0.0.0", ""},
        {"010.0.0.5,255.0.0.0,,", V::Accepted, "010.0.0.5", "255.0.0.0", ""},
        {"10.0.0.5,255.0.0.0", V::Accepted, "10.0.0.5", "255.0.0.0", ""},
        // Empty fields are skipped; fields after the third are ignored.
        {",,10.0.0.5,,255.0.0.0,,,10.0.0.1", V::Accepted, "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        {"10.0.0.5,255.0.0.0,10.0.0.1,junk,", V::Accepted, "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        {"255.255.255.255,0.0.0.0,1.2.3.4,", V::Accepted, "255.255.255.255", "0.0.0.0", "1.2.3.4"},
        {"", V::TooFewFields, "", "", ""},
        {",,,", V::TooFewFields, "", "", ""},
        {"10.0.0.5,", V::TooFewFields, "", "", ""},
        {"10.0.0.256,255.0.0.0,,", V::NotAnAddress, "", "", ""},
        {"10.0.0,255.0.0.0,,", V::NotAnAddress, "", "", ""},
        {"10.0.0.5.6,255.0.0.0,,", V::NotAnAddress, "", "", ""},
        {"10.0.0.5,255.0.0.0,gateway,", V::NotAnAddress, "", "", ""},
        {"10.0.0.5,255.0.0.0\n", V::NotAnAddress, "", "", ""},
        {" 10.0.0.5,255.0.0.0,", V::NotAnAddress, "", "", ""},
        {"10..0.5,255.0.0.0,", V::NotAnAddress, "", "", ""},
        {"10.0.0.5,0255.0.0.0,", V::NotAnAddress, "", "", ""},
        {"10.0.0.5,255.0.0.-1,", V::NotAnAddress, "", "", ""},
        {std::string("10.0.0.5\0junk,255.0.0.0,", 24), V::NotAnAddress, "", "", ""},
        {std::string(40, '1') + ",255.0.0.0,", V::NotAnAddress, "", "", ""},
    };
    for (const auto &c : cases) {
        ReservedAddress out;
        out.ip.fill('x');
        EXPECT_EQ(parseReservedAddress(c.text, out), c.verdict) << c.text;
        EXPECT_STREQ(out.ip.data(), c.ip) << c.text;
        EXPECT_STREQ(out.mask.data(), c.mask) << c.text;
        EXPECT_STREQ(out.gateway.data(), c.gateway) << c.text;
    }
}

}  // namespace
