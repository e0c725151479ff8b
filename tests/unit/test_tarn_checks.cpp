// What the utility refuses before sending or writing back: unusable keys,
// answers from more than one host, backups made on another device.
#include <gtest/gtest.h>

#include <string>

#include "codec.h"
#include "fetch.h"
#include "replies.h"
#include "security.h"

using namespace tarn;

namespace {

Reply answer(uint8_t macEnd, const std::string &ifname, uint8_t fromEnd, Bytes body = {}) {
    Reply r{.body = std::move(body), .ifname = ifname, .from = {192, 0, 2, fromEnd}};
    r.header.uMsgType = wire::kTypeReply;
    r.header.uOP_Code = wire::OP_DISCOVER;
    r.header.ucMac[0] = 0x02;
    r.header.ucMac[5] = macEnd;
    return r;
}

}  // namespace

TEST(TarnChecks, KeysTheDeviceCanUse) {
    const SecurityMode &wep = *securityByName("static-wep"),
                       &wpa2 = *securityByName("wpa2-personal");
    for (const char *ok : {"abcde", "thirteen-char", "0123456789", "aBcDeF0123"})
        EXPECT_EQ(keyProblem(wep, ok), "") << ok;
    // 26 hexadecimal digits are a WEP key, but not one the 16-byte field holds.
    for (const std::string bad :
         {"abc", "abcdef", "012345678g", "0123456789abcdef", "0123456789abcdef0123456789"})
        EXPECT_NE(keyProblem(wep, bad), "") << bad;
    for (const char *ok : {"eightchr", "sixteen-chars-16"})
        EXPECT_EQ(keyProblem(wpa2, ok), "") << ok;
    for (const std::string bad : {"abc", "seven77", "seventeen-chars17", "tab\there!"})
        EXPECT_NE(keyProblem(wpa2, bad), "") << bad;
    // A new key is needed from an enterprise or unknown network, and from WEP to WPA.
    EXPECT_TRUE(needsNewKey(nullptr, wpa2));
    EXPECT_TRUE(needsNewKey(securityByName("wpa2-enterprise"), wpa2));
    EXPECT_TRUE(needsNewKey(&wep, wpa2));
}

TEST(TarnChecks, AnswersAreKeptPerMacAndHost) {
    DeviceReplies replies;
    replies.add(answer(1, "eth0", 11));
    replies.add(answer(1, "eth1", 11));  // the same device on a second interface
    replies.add(answer(2, "eth0", 12));
    replies.add(answer(2, "eth0", 12));  // a second host with the same MAC and address
    replies.add(answer(2, "eth1", 13));  // and a third, from another address
    ASSERT_EQ(replies.devices().size(), 2u);
    EXPECT_EQ(std::tuple(replies.devices().at(Mac{2, 0, 0, 0, 0, 1}).size(),
                         replies.devices().at(Mac{2, 0, 0, 0, 0, 2}).size(), replies.dropped()),
              std::tuple(1u, 3u, 0u));

    DeviceReplies few(3);
    for (uint8_t i = 0; i < 10; i++)
        few.add(answer(i, "eth0", i));
    few.add(answer(0, "eth1", 0));  // a device already kept still counts
    EXPECT_EQ(std::tuple(few.devices().size(), few.dropped(), few.devices().begin()->second.size()),
              std::tuple(3u, 7u, 1u));

    // The same MAC and address on another interface with another answer:
    // a host forging the device's address on another segment.
    DeviceReplies forged;
    forged.add(answer(3, "eth0", 13, {1}));
    forged.add(answer(3, "eth1", 13, {2}));
    EXPECT_EQ(forged.devices().begin()->second.size(), 2u);

    EXPECT_TRUE(sameAnswer(answer(1, "eth0", 11, {1, 2}), answer(1, "eth1", 99, {1, 2})));
    EXPECT_FALSE(sameAnswer(answer(1, "eth0", 11, {1, 2}), answer(1, "eth0", 11, {1, 3})));
}

TEST(TarnChecks, AnswersAreComparedWithinOneTry) {
    auto tried = [](uint16_t tag, std::vector<uint8_t> body) {
        Reply r = answer(1, "eth0", 11, std::move(body));
        r.header.uMsgTag = tag;
        return r;
    };
    TriedAnswers answers;
    EXPECT_EQ(answers.answer(), nullptr);
    EXPECT_TRUE(answers.add(tried(7, {1})));  // a late answer to the first try
    EXPECT_TRUE(answers.add(tried(8, {2})));  // the second try's, taken later: not compared
    EXPECT_TRUE(answers.add(tried(7, {1})));  // the same answer again
    ASSERT_NE(answers.answer(), nullptr);
    EXPECT_EQ(answers.answer()->body, Bytes{1});
    EXPECT_FALSE(answers.add(tried(8, {3})));  // a different answer to the second try
}

TEST(TarnChecks, FileNamesAreEncodedForTheUrl) {
    EXPECT_EQ(urlPath("cfg/ap-1_v2.~x"), "cfg/ap-1_v2.~x");
    EXPECT_EQ(urlPath("a b#c?d%e+f"), "a%20b%23c%3Fd%25e%2Bf");
    EXPECT_EQ(urlPath("\xc3\xa9"), "%C3%A9");
}

TEST(TarnChecks, ABackupNamesTheDeviceItWasMadeOn) {
    const std::string file =
        "TARN-CONFIG 1\nSHA256 00\nsystem\t-\t-\tmac\t02:00:00:00:00:09\n"
        "management\t-\t-\tinterface\tbrtrunk\n"
        "management\t-\t-\tmac\t02:00:00:00:00:01\n";
    EXPECT_EQ(backupOwner(file), (Mac{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(backupOwner("TARN-CONFIG 1\nmanagement\t-\t-\tip\t192.0.2.11\n"), std::nullopt);
    EXPECT_EQ(backupOwner("management\tx\t-\tmac\t02:00:00:00:00:01"), std::nullopt);
}
