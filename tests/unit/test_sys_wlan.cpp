// Wireless accessors against a real settings store: which objects they name,
// what they write and in which order, and how protocol fields are filled and
// cut. The multi-SSID handlers are exercised over the wire in the sandbox.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "sys_wlan.h"
#include "temp_store.h"
#include "wire.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

class Wlan : public ::testing::Test {
protected:
    void SetUp() override { store().clear(); }
    // Writes journaled since the last call, as "section:object[qualifier]:key=value".
    std::vector<std::string> takeWrites() {
        std::vector<std::string> out;
        const auto journal = store().journal();
        for (size_t i = mark_; i < journal.size(); i++) {
            const auto &e = journal[i];
            out.push_back(e.section + ":" + e.object + (e.qualifier.empty() ? "" : "[" + e.qualifier + "]") +
                          ":" + e.key + "=" + e.value);
        }
        mark_ = journal.size();
        return out;
    }
    void setNetwork(const char *network, const char *key, const char *value) {
        store().set("interface", key, value, network);
    }

private:
    size_t mark_ = 0;
};

// A request field holding `text`, zero-padded (or cut) to `width`.
std::vector<uint8_t> fieldOf(const std::string &text, size_t width) {
    std::vector<uint8_t> f(width, 0);
    std::memcpy(f.data(), text.data(), std::min(text.size(), width));
    return f;
}

std::string textOf(std::span<const uint8_t> f) { return std::string(wire::load_text(f, 0, f.size())); }

// ---- Radio crossing, index 2, names carrying the VAP index ----------------

struct Selection {
    int radio, vap;
    const char *network, *bss, *vapObject;
    const char *radioObject;  // null: status, mode, SSID and VLAN accessors do nothing
};

class Selections : public Wlan, public ::testing::WithParamInterface<Selection> {};

TEST_P(Selections, SettersNameTheirObjectsInOrder) {
    const Selection &s = GetParam();
    const std::string ssid(32, 'L');  // a full field is written whole
    sysSetRadioStatus(0, s.radio);    // the request's state is not consulted
    sysSetWlanSsid(fieldOf(ssid, 32), s.vap, s.radio);
    sysSetVapVlanId(fieldOf("1234", 4), s.vap, s.radio);
    sysSetWlanSecurity(fieldOf("4", 4), s.vap, s.radio);
    sysSetWlanKey(fieldOf("passphrase", 16), s.vap, s.radio);  // follows the mode just written

    const std::string net = std::string("interface:") + s.network, bss = std::string("bss:") + s.bss;
    std::vector<std::string> expected;
    if (s.radioObject != nullptr)
        expected = {std::string("radio:") + s.radioObject + ":status=up", net + ":ssid=" + ssid,
                    std::string("vap:") + s.vapObject + "[radio=" + s.radioObject + "]:vlan-id=1234"};
    for (const std::string &w : {net + ":security=wpa-personal", bss + ":wpa-allowed=off",
                                 bss + ":wpa2-allowed=on", net + ":wpa-personal-key=passphrase"})
        expected.push_back(w);
    EXPECT_EQ(takeWrites(), expected);
}

TEST_P(Selections, GettersReadTheirObjects) {
    const Selection &s = GetParam();
    store().set("radio", "mode", "bg-n", "wlan1");
    store().set("radio", "mode", "a", "wlan0");
    store().set("vap", "vlan-id", "41", s.vapObject, "radio", "wlan1");
    store().set("vap", "vlan-id", "40", s.vapObject, "radio", "wlan0");
    setNetwork(s.network, "ssid", "office");
    setNetwork(s.network, "security", "static-wep");
    setNetwork(s.network, "wep-default-key", "3");
    setNetwork(s.network, "wep-key-1", "wrong");
    setNetwork(s.network, "wep-key-3", "0123456789");
    uint8_t mode = 0xEE;
    std::array<uint8_t, 32> ssid{};
    std::array<uint8_t, 4> vlan{}, security{};
    std::array<uint8_t, 16> key{};
    sysGetWlanMode(mode, s.radio);
    sysGetWlanSsid(ssid, s.vap, s.radio);
    sysGetVapVlanId(vlan, s.vap, s.radio);
    sysGetWlanSecurity(security, s.vap, s.radio);
    sysGetWlanKey(key, s.vap, s.radio);

    const bool served = s.radioObject != nullptr;
    EXPECT_EQ(mode, !served ? 0xEE : s.radio);  // band code: 0 for 2.4 GHz, 1 for 5 GHz
    EXPECT_EQ(textOf(ssid), served ? "office" : "");
    EXPECT_EQ(textOf(vlan), !served ? "" : s.radio == 0 ? "41" : "40");
    EXPECT_EQ(textOf(security), "1");
    EXPECT_EQ(textOf(key), "0123456789");
}

INSTANTIATE_TEST_SUITE_P(All, Selections,
                         ::testing::Values(Selection{0, 0, "wlan1", "wlan1bssvap0", "vap0", "wlan1"},
                                           Selection{1, 7, "wlan0vap7", "wlan0bssvap7", "vap7", "wlan0"},
                                           Selection{2, 5, "wlan0vap5", "wlan0bssvap5", "vap5", nullptr}));

// ---- Security codes and the key that follows them ---------------------------

TEST_F(Wlan, SecurityCodesWriteTheModeThenTheBssFlags) {
    struct Row { const char *field, *security, *wpa, *wpa2; };  // null: not written
    for (const Row &r : {Row{"1", "static-wep", nullptr, nullptr}, Row{"2", "wpa-personal", "on", "off"},
                         Row{"3", "wpa-enterprise", "on", "off"}, Row{"4", "wpa-personal", "off", "on"},
                         Row{"5", "wpa-enterprise", "off", "on"}, Row{"6", "plain-text", nullptr, nullptr},
                         Row{"0006", "plain-text", nullptr, nullptr}, Row{"4x", "wpa-personal", "off", "on"},
                         Row{"", nullptr, nullptr, nullptr}, Row{"0", nullptr, nullptr, nullptr},
                         Row{"7", nullptr, nullptr, nullptr}, Row{"-2", nullptr, nullptr, nullptr},
                         Row{"wpa", nullptr, nullptr, nullptr}}) {
        SCOPED_TRACE(r.field);
        sysSetWlanSecurity(fieldOf(r.field, 4), 3, 0);
        std::vector<std::string> expected;
        if (r.security != nullptr)
            expected.push_back(std::string("interface:wlan1vap3:security=") + r.security);
        if (r.wpa != nullptr)
            expected.insert(expected.end(), {std::string("bss:wlan1bssvap3:wpa-allowed=") + r.wpa,
                                             std::string("bss:wlan1bssvap3:wpa2-allowed=") + r.wpa2});
        EXPECT_EQ(takeWrites(), expected);
    }
}

TEST_F(Wlan, KeyIsWrittenOnlyForWpaPersonalAndAWepKeyInUse) {
    struct Row { const char *security, *defaultKey, *writtenKey; };  // null: none
    for (const Row &r : {Row{"wpa-personal", "2", "wpa-personal-key"}, Row{"static-wep", "2", "wep-key-2"},
                         Row{"static-wep", nullptr, nullptr}, Row{"plain-text", "2", nullptr},
                         Row{"wpa-enterprise", "2", nullptr}, Row{nullptr, "2", nullptr}}) {
        SCOPED_TRACE(r.security != nullptr ? r.security : "none");
        store().clear();
        if (r.security != nullptr)
            setNetwork("wlan0", "security", r.security);
        if (r.defaultKey != nullptr)
            setNetwork("wlan0", "wep-default-key", r.defaultKey);
        takeWrites();
        std::array<uint8_t, 16> key;
        std::memcpy(key.data(), "0123456789abcdef", 16);  // full width, no terminator
        sysSetWlanKey(key, 0, 1);
        EXPECT_EQ(takeWrites(), r.writtenKey == nullptr ? std::vector<std::string>{}
                                : std::vector<std::string>{std::string("interface:wlan0:") +
                                                           r.writtenKey + "=0123456789abcdef"});
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
    struct Row { const char *security, *flags, *code; };
    for (const Row &r : {Row{"wpa-personal", "on", "4"}, Row{"wpa-enterprise", nullptr, "3"}, Row{"open", "on", ""}}) {
        store().clear();
        setNetwork("wlan0vap6", "security", r.security);
        if (r.flags != nullptr) {
            store().set("bss", "wpa-allowed", r.flags, "wlan0bssvap6");
            store().set("bss", "wpa2-allowed", r.flags, "wlan0bssvap6");
        }
        std::array<uint8_t, 4> code{};
        sysGetWlanSecurity(code, 6, 1);
        EXPECT_EQ(textOf(code), r.code) << r.security;
        EXPECT_EQ(code[1], 0);
    }
}

// ---- Field widths -------------------------------------------------------------

TEST_F(Wlan, LongValuesAreCutToTheirField) {
    setNetwork("wlan1vap4", "security", "wpa-personal");
    setNetwork("wlan1vap4", "ssid", (std::string(40, 'a') + "tail").c_str());
    setNetwork("wlan1vap4", "wpa-personal-key", "0123456789abcdefXYZ");
    store().set("vap", "vlan-id", "123456", "vap4", "radio", "wlan1");
    // Each field sits inside a larger buffer: the bytes around it must stay.
    std::array<uint8_t, 80> buf;
    buf.fill('.');
    sysGetWlanSsid(std::span(buf).subspan(1, 32), 4, 0);
    sysGetVapVlanId(std::span(buf).subspan(34, 4), 4, 0);
    sysGetWlanKey(std::span(buf).subspan(39, 16), 4, 0);
    EXPECT_EQ(std::string(buf.begin(), buf.end()),
              "." + std::string(32, 'a') + ".1234.0123456789abcdef" + std::string(25, '.'));
}

}  // namespace
