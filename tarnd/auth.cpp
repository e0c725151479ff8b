// Administrator authentication: Base64 credential fields and the check
// against the device's account.
#include "auth.h"

#include <crypt.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>

#include "cfg.h"

char g_currentUser[kUserNameLen];

namespace {

constexpr size_t kWorkLen = 1024;
constexpr size_t kMaxText = kWorkLen - 2;  // room for the line end and a zero
constexpr size_t kSettingLen = 64;
constexpr std::string_view kAdminAccount = "admin";

struct BioChainFree {
    void operator()(BIO *bio) const { BIO_free_all(bio); }
};
using BioChain = std::unique_ptr<BIO, BioChainFree>;

}  // namespace

void base64Decode(std::span<char> out, std::string_view text) {
    std::fill(out.begin(), out.end(), '\0');
    if (text.size() > kMaxText)
        return;

    // The filter decodes line by line: one line end makes the text a
    // complete line.
    std::array<char, kWorkLen> work{};
    std::memcpy(work.data(), text.data(), text.size());
    work[text.size()] = '\n';

    BioChain chain(BIO_new(BIO_f_base64()));
    if (!chain)
        return;
    BIO *source = BIO_new_mem_buf(work.data(), static_cast<int>(text.size() + 1));
    if (!source)
        return;
    BIO_push(chain.get(), source);

    // Text the filter rejects ends the reading: the output stays empty or
    // cut short, which the credential check then refuses.
    size_t got = 0;
    while (got < out.size()) {
        const size_t want = std::min<size_t>(out.size() - got, INT_MAX);
        const int n = BIO_read(chain.get(), out.data() + got, static_cast<int>(want));
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
}

bool checkCredentials(const char *, const char *password) {
    std::array<char, kSettingLen> account{};
    std::array<char, kSettingLen> stored{};
    cfgGet("system", "username", account);
    cfgGet("system", "encrypted-password", stored);
    if (std::string_view(account.data()) != kAdminAccount)
        return false;

    const char *hashed = crypt(password, stored.data());
    if (hashed == nullptr)
        return false;
    const size_t len = std::strlen(hashed);
    if (len != std::strlen(stored.data()))
        return false;
    return CRYPTO_memcmp(hashed, stored.data(), len) == 0;
}
