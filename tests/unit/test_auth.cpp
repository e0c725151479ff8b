// Base64 credential fields and the check against the stored account.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "auth.h"
#include "temp_store.h"

namespace {

// crypt() hashes with the salt "tarnsalt".
constexpr const char *kHashTarnadmin = "$5$tarnsalt$VnCRs2c66nWZgE/8YV.bB0LQvcqb4NSKInzOWBvFF93";

}  // namespace

// A full 64-character field is decoded in test_loop's user field.
TEST(Base64, ClearsTheWholeOutputAndRefusesTooLongText) {
    std::array<char, 1024> out;
    for (const std::string &text : {std::string(), std::string(1023, 'A')}) {
        out.fill('x');
        base64Decode(out, text);
        EXPECT_EQ((std::array<char, 1024>{}), out) << text.size();
    }
    std::string longest;  // 1022 characters: "adm" 255 times, then two line ends
    while (longest.size() < 1020)
        longest += "YWRt";
    base64Decode(out, longest + "\n\n");
    EXPECT_EQ("adm", std::string(out.data(), 3));
}

TEST(Base64, WritesNoMoreThanTheCapacity) {
    std::array<char, 6> out;
    out.fill('x');
    base64Decode(std::span<char>(out).first(4), "YWRtaW4=");
    EXPECT_EQ((std::array<char, 6>{'a', 'd', 'm', 'i', 'x', 'x'}), out);
}

TEST(Credentials, OnlyTheStoredAccountAndAUsableHashPass) {
    const struct {
        const char *name, *account, *hash, *user, *password;  // account null: not stored
        bool expected;
    } cases[] = {
        // The request's user takes no part.
        {"AnyUserName", "admin", kHashTarnadmin, "guest", "tarnadmin", true},
        {"AccountCase", "Admin", kHashTarnadmin, "admin", "tarnadmin", false},
        {"NoAccount", nullptr, kHashTarnadmin, "admin", "tarnadmin", false},
        {"EmptyStoredHash", "admin", "", "admin", "", false},
        {"UnusableHash", "admin", "*0", "admin", "tarnadmin", false},
        {"TruncatedHash", "admin", "$5$tarnsalt$VnCRs2c66nWZgE", "admin", "tarnadmin", false},
    };
    for (const auto &c : cases) {
        store().clear();
        if (c.account)
            store().set("system", "username", c.account);
        store().set("system", "encrypted-password", c.hash);
        EXPECT_EQ(c.expected, checkCredentials(c.user, c.password)) << c.name;
    }
}
