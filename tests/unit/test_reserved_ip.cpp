// The parser of the kept management address file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reserved_ip.h"

namespace {

TEST(ReservedAddress, ParseTable) {
    const struct {
        const char *text, *ip, *mask, *gateway;
    } accepted[] = {
        // As the factory reset writes it.
        {"192.168.0.50,255.255.255.0,192.168.0.1,", "192.168.0.50", "255.255.255.0", "192.168.0.1"},
        {"10.0.0.5,255.0.0.0,10.0.0.1", "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        // No default gateway: the address and mask still count.
        {"10.0.0.5,255.0.0.0,,", "10.0.0.5", "255.0.0.0", ""},
        {"010.0.0.5,255.0.0.0,,", "010.0.0.5", "255.0.0.0", ""},
        {"10.0.0.5,255.0.0.0", "10.0.0.5", "255.0.0.0", ""},
        // Empty fields are skipped; fields after the third are ignored.
        {",,10.0.0.5,,255.0.0.0,,,10.0.0.1", "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        {"10.0.0.5,255.0.0.0,10.0.0.1,junk,", "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        {"255.255.255.255,0.0.0.0,1.2.3.4,", "255.255.255.255", "0.0.0.0", "1.2.3.4"},
    };
    const auto parsed = [](const std::string &text, ReservedVerdict verdict) {
        ReservedAddress out;
        out.ip.fill('x');
        EXPECT_EQ(parseReservedAddress(text, out), verdict) << text;
        return std::string(out.ip.data()) + " " + out.mask.data() + " " + out.gateway.data();
    };
    for (const auto &c : accepted)
        EXPECT_EQ(parsed(c.text, ReservedVerdict::Accepted),
                  std::string(c.ip) + " " + c.mask + " " + c.gateway);
    // Refused: nothing is filled in.
    for (const std::string text : {"", ",,,", "10.0.0.5,"})
        EXPECT_EQ(parsed(text, ReservedVerdict::TooFewFields), "  ");
    for (const std::string &text : std::vector<std::string>{
             "10.0.0.256,255.0.0.0,,", "10.0.0,255.0.0.0,,", "10.0.0.5.6,255.0.0.0,,",
             "10.0.0.5,255.0.0.0,gateway,", "10.0.0.5,255.0.0.0\n", " 10.0.0.5,255.0.0.0,",
             "10..0.5,255.0.0.0,", "10.0.0.5,0255.0.0.0,", "10.0.0.5,255.0.0.-1,",
             std::string("10.0.0.5\0junk,255.0.0.0,", 24), std::string(40, '1') + ",255.0.0.0,"})
        EXPECT_EQ(parsed(text, ReservedVerdict::NotAnAddress), "  ");
}

}  // namespace
