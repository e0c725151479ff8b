// Base64 credential fields and the check against the stored account.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "auth.h"
#include "temp_store.h"

namespace {

// crypt() hashes with the salt "tarnsalt".
constexpr const char *kHashTarnadmin = "$5$tarnsalt$VnCRs2c66nWZgE/8YV.bB0LQvcqb4NSKInzOWBvFF93";

TempStore &store() {
    static TempStore s;
    return s;
}

std::string decoded(std::span<const char> out) {
    return std::string(out.data(), strnlen(out.data(), out.size()));
}

}  // namespace

// A full 64-character field carries no padding and no terminator.
TEST(Base64, FullFieldWithoutPaddingOrTerminator) {
    const std::string field = "QUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFB";
    ASSERT_EQ(64u, field.size());
    std::array<char, 1024> out;
    out.fill('x');
    EXPECT_EQ(0, base64Decode(out, field));
    EXPECT_EQ(std::string(48, 'A'), decoded(out));
    EXPECT_EQ('\0', out[1023]);  // cleared over the whole capacity
}

// An all-zero field reads as empty text.
TEST(Base64, EmptyTextDecodesToEmpty) {
    std::array<char, 16> out;
    out.fill('x');
    EXPECT_EQ(0, base64Decode(out, ""));
    EXPECT_EQ((std::array<char, 16>{}), out);
}

TEST(Base64, WritesNoMoreThanTheCapacity) {
    std::array<char, 6> out;
    out.fill('x');
    EXPECT_EQ(0, base64Decode(std::span<char>(out).first(4), "YWRtaW4="));
    EXPECT_EQ((std::array<char, 6>{'a', 'd', 'm', 'i', 'x', 'x'}), out);
}

TEST(Base64, TooLongTextGivesEmptyOutput) {
    std::array<char, 1024> out;
    out.fill('x');
    EXPECT_EQ(-1, base64Decode(out, std::string(1023, 'A')));
    EXPECT_EQ((std::array<char, 1024>{}), out);
    EXPECT_EQ(0, base64Decode(out, std::string(1022, 'A')));
}

struct CredentialCase {
    const char *name;
    const char *account;  // null: not stored
    const char *hash;     // null: not stored
    const char *user;
    const char *password;
    int expected;
};

class Credentials : public ::testing::TestWithParam<CredentialCase> {
protected:
    void SetUp() override { store().clear(); }
};

TEST_P(Credentials, Check) {
    const CredentialCase &c = GetParam();
    if (c.account)
        store().set("system", "username", c.account);
    if (c.hash)
        store().set("system", "encrypted-password", c.hash);
    EXPECT_EQ(c.expected, checkCredentials(c.user, c.password));
}

INSTANTIATE_TEST_SUITE_P(
    Auth, Credentials,
    ::testing::Values(
        CredentialCase{"RightPassword", "admin", kHashTarnadmin, "admin", "tarnadmin", 0},
        // The request's user name takes no part in the check.
        CredentialCase{"AnyUserName", "admin", kHashTarnadmin, "guest", "tarnadmin", 0},
        CredentialCase{"WrongPassword", "admin", kHashTarnadmin, "admin", "tarnadmin2", -1},
        CredentialCase{"PasswordPrefix", "admin", kHashTarnadmin, "admin", "tarn", -1},
        CredentialCase{"AccountRenamed", "root", kHashTarnadmin, "admin", "tarnadmin", -1},
        CredentialCase{"AccountCase", "Admin", kHashTarnadmin, "admin", "tarnadmin", -1},
        CredentialCase{"NoAccount", nullptr, kHashTarnadmin, "admin", "tarnadmin", -1},
        CredentialCase{"NoStoredHash", "admin", nullptr, "admin", "", -1},
        CredentialCase{"EmptyStoredHash", "admin", "", "admin", "", -1},
        CredentialCase{"UnusableHash", "admin", "*0", "admin", "tarnadmin", -1},
        CredentialCase{"TruncatedHash", "admin", "$5$tarnsalt$VnCRs2c66nWZgE", "admin",
                       "tarnadmin", -1}),
    [](const auto &tp) { return std::string(tp.param.name); });
