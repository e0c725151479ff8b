// Wireless accessors against a real store: the objects named, writes in order,
// security codes and keys. The multi-SSID handlers' radios and field widths are
// exercised over the wire in the sandbox.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "req_func_wlan.h"
#include "sys_wlan.h"
#include "temp_store.h"
#include "wire.h"

namespace {

using Wlan = StoreTest;

// A request field holding `text`, zero-padded (or cut) to `width`.
std::vector<uint8_t> fieldOf(const std::string &text, size_t width) {
    std::vector<uint8_t> f(width, 0);
    std::memcpy(f.data(), text.data(), std::min(text.size(), width));
    return f;
}

std::string textOf(std::span<const uint8_t> f) {
    return std::string(wire::load_text(f, 0, f.size()));
}

// Radio 1 is the store's "wlan0"; a VAP other than 0 names its own network.
TEST_F(Wlan, SettersNameTheirObjectsInOrder) {
    const std::string ssid(32, 'L');  // a full field is written whole
    sysSetRadioStatus(0, 1);          // the request's state is not consulted
    sysSetWlanSsid(fieldOf(ssid, 32), 7, 1);
    sysSetVapVlanId(fieldOf("1234", 4), 7, 1);
    sysSetWlanSecurity(fieldOf("4", 4), 7, 1);
    sysSetWlanKey(fieldOf("passphrase", 16), 7, 1);  // follows the mode just written
    EXPECT_EQ(store().takeWrites(),
              (std::vector<std::string>{
                  "radio.wlan0.status=up", "interface.wlan0vap7.ssid=" + ssid,
                  "vap.vap7[radio=wlan0].vlan-id=1234", "interface.wlan0vap7.security=wpa-personal",
                  "bss.wlan0bssvap7.wpa-allowed=off", "bss.wlan0bssvap7.wpa2-allowed=on",
                  "interface.wlan0vap7.wpa-personal-key=passphrase"}));
}

// ---- Security codes and the key that follows them ---------------------------

TEST_F(Wlan, SecurityCodesWriteTheModeThenTheBssFlags) {
    struct Row {
        const char *field, *security, *wpa, *wpa2;
    };  // null: not written
    for (const Row &r :
         {Row{"2", "wpa-personal", "on", "off"}, Row{"3", "wpa-enterprise", "on", "off"},
          Row{"5", "wpa-enterprise", "off", "on"}, Row{"0006", "plain-text", nullptr, nullptr},
          Row{"4x", "wpa-personal", "off", "on"}, Row{"0", nullptr, nullptr, nullptr},
          Row{"7", nullptr, nullptr, nullptr}, Row{"-2", nullptr, nullptr, nullptr}}) {
        SCOPED_TRACE(r.field);
        sysSetWlanSecurity(fieldOf(r.field, 4), 3, 0);
        std::vector<std::string> expected;
        if (r.security != nullptr)
            expected.push_back(std::string("interface.wlan1vap3.security=") + r.security);
        if (r.wpa != nullptr)
            expected.insert(expected.end(),
                            {std::string("bss.wlan1bssvap3.wpa-allowed=") + r.wpa,
                             std::string("bss.wlan1bssvap3.wpa2-allowed=") + r.wpa2});
        EXPECT_EQ(store().takeWrites(), expected);
    }
}

TEST_F(Wlan, KeyIsWrittenOnlyForWpaPersonalAndAWepKeyInUse) {
    const std::string wep = "interface.wlan0.wep-default-key=2";
    const struct {
        std::vector<std::string> seed, writes;
    } cases[] = {
        {{"interface.wlan0.security=wpa-personal", wep},
         {"interface.wlan0.wpa-personal-key=0123456789abcdef"}},
        {{"interface.wlan0.security=static-wep"}, {}},
        {{"interface.wlan0.security=wpa-enterprise", wep}, {}},
        {{wep}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seed[0]);
        store().clear();
        store().seed(c.seed);
        sysSetWlanKey(fieldOf("0123456789abcdef", 16), 0, 1);  // full width, no terminator
        EXPECT_EQ(store().takeWrites(), c.writes);
    }
}

TEST_F(Wlan, SecurityGetterGivesTheCodeTheSetterWouldNeed) {
    for (const char *code : {"1", "2", "3", "4", "5", "6"}) {
        sysSetWlanSecurity(fieldOf(code, 4), 2, 0);
        std::array<uint8_t, 4> out{};
        sysGetWlanSecurity(out, 2, 0);
        EXPECT_EQ(textOf(out), code);
    }
    // Both BSS flags on: WPA2 alone decides; none stored: off. "": the field stays zero.
    const std::string bothOn[] = {"bss.wlan0bssvap6.wpa-allowed=on",
                                  "bss.wlan0bssvap6.wpa2-allowed=on"};
    const struct {
        std::vector<std::string> seed;
        const char *code;
    } cases[] = {
        {{"interface.wlan0vap6.security=wpa-personal", bothOn[0], bothOn[1]}, "4"},
        {{"interface.wlan0vap6.security=wpa-enterprise"}, "3"},
        {{"interface.wlan0vap6.security=open", bothOn[0], bothOn[1]}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seed[0]);
        store().clear();
        store().seed(c.seed);
        std::array<uint8_t, 4> code{};
        sysGetWlanSecurity(code, 6, 1);
        EXPECT_EQ(textOf(code), c.code);
        EXPECT_EQ(code[1], 0);
    }
}

// ---- The set handler against what the get handler reports ------------------

using Entries =
    std::array<std::array<uint8_t, wire::multi_ssid::kEntryLen>, wire::multi_ssid::kEntryCount>;

Entries getEntries(int radio) {
    namespace ms = wire::multi_ssid;
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    const wire::message_t request{};
    const std::array<uint8_t, 1> body{static_cast<uint8_t>(radio)};
    EXPECT_EQ(funcGetMultiSSID_Config(&request, body, reply), wire::kHeaderLen + ms::kReplyBodyLen);
    Entries entries{};
    for (size_t k = 0; k < ms::kEntryCount; k++)
        wire::load_bytes(reply, wire::kHeaderLen + ms::kReplyEntries + k * ms::kEntryLen,
                         entries[k]);
    return entries;
}

void setEntries(int radio, const Entries &entries) {
    namespace ms = wire::multi_ssid;
    std::vector<uint8_t> body{static_cast<uint8_t>(radio), 1};
    for (const auto &entry : entries)
        body.insert(body.end(), entry.begin(), entry.end());
    std::array<uint8_t, wire::kMaxDatagram> reply{};
    const wire::message_t request{};
    EXPECT_EQ(funcSetMultiSSID_Config(&request, body, reply), wire::kHeaderLen + ms::kReplyBodyLen);
}

// A utility reads the eight networks and writes them back unchanged: only the
// radio's state is written. A key longer than its 16-byte field and a network
// allowing both WPA and WPA2 (read back as WPA2) survive. (Changed entries
// are written in order in the sandbox.)
TEST_F(Wlan, SetWritesOnlyWhatDiffersFromTheGet) {
    const std::string longKey = "twenty-character-key";
    for (int vap = 0; vap < 8; vap++) {
        sysSetWlanSsid(fieldOf("net" + std::to_string(vap), 32), vap, 0);
        sysSetVapVlanId(fieldOf(std::to_string(100 + vap), 4), vap, 0);
        sysSetWlanSecurity(fieldOf(vap % 2 == 0 ? "4" : "6", 4), vap, 0);
    }
    store().seed({"bss.wlan1bssvap0.wpa-allowed=on",  // WPA and WPA2
                  "interface.wlan1.wpa-personal-key=" + longKey,
                  "interface.wlan1vap2.wpa-personal-key=short-key"});
    store().takeWrites();

    setEntries(0, getEntries(0));
    EXPECT_EQ(store().takeWrites(), std::vector<std::string>{"radio.wlan1.status=up"});
    EXPECT_EQ(store().get("interface", "wpa-personal-key", "wlan1"), longKey);
    EXPECT_EQ(store().get("bss", "wpa-allowed", "wlan1bssvap0"), "on");
}

}  // namespace
