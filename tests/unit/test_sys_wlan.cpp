// Wireless accessors and multi-SSID handlers against a real settings store:
// which objects they name, what they write and in which order, and how
// protocol fields are filled and cut.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "req_func_wlan.h"
#include "sys_wlan.h"
#include "temp_store.h"
#include "wire.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

// One write as the store's journal records it.
struct Write {
    std::string section, object, qualifier, key, value;
    bool operator==(const Write &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Write &w) {
    return os << "{" << w.section << ", " << w.object << ", " << w.qualifier << ", " << w.key
              << ", \"" << w.value << "\"}";
}

// Writes made since `mark` journal entries.
std::vector<Write> writesSince(size_t mark) {
    std::vector<Write> out;
    auto journal = store().journal();
    for (size_t i = mark; i < journal.size(); i++) {
        const auto &e = journal[i];
        out.push_back({e.section, e.object, e.qualifier, e.key, e.value});
    }
    return out;
}

class Wlan : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        mark_ = store().journal().size();
    }
    std::vector<Write> writes() const { return writesSince(mark_); }
    void setNetwork(const char *network, const char *key, const char *value) {
        store().set("interface", key, value, network);
    }
    void resetMark() { mark_ = store().journal().size(); }

private:
    size_t mark_ = 0;
};

// A request field holding `text`, zero-padded to `width`.
std::vector<uint8_t> fieldOf(const std::string &text, size_t width) {
    std::vector<uint8_t> f(width, 0);
    std::memcpy(f.data(), text.data(), std::min(text.size(), width));
    return f;
}

std::string textOf(std::span<const uint8_t> f) {
    return std::string(wire::load_text(f, 0, f.size()));
}

// The names that one (radio index, VAP index) pair selects.
struct Selection {
    int radio;
    int vap;
    const char *network;  // security and key accessors; SSID too for 0 and 1
    const char *bss;
    const char *vapObject;
    const char *radioQualifier;  // null: SSID/VLAN accessors do nothing
};

constexpr Selection kSelections[] = {
    {0, 0, "wlan1", "wlan1bssvap0", "vap0", "radio=wlan1"},
    {0, 5, "wlan1vap5", "wlan1bssvap5", "vap5", "radio=wlan1"},
    {0, 7, "wlan1vap7", "wlan1bssvap7", "vap7", "radio=wlan1"},
    {1, 0, "wlan0", "wlan0bssvap0", "vap0", "radio=wlan0"},
    {1, 5, "wlan0vap5", "wlan0bssvap5", "vap5", "radio=wlan0"},
    {1, 7, "wlan0vap7", "wlan0bssvap7", "vap7", "radio=wlan0"},
    {2, 0, "wlan0", "wlan0bssvap0", "vap0", nullptr},
    {2, 5, "wlan0vap5", "wlan0bssvap5", "vap5", nullptr},
    {2, 7, "wlan0vap7", "wlan0bssvap7", "vap7", nullptr},
};

std::string selectionName(const Selection &s) {
    return "radio" + std::to_string(s.radio) + "_vap" + std::to_string(s.vap);
}

// ---- Security setter: every selection x every code -----------------------

struct CodeCase {
    const char *name;
    const char *field;
    const char *security;  // null: nothing written
    const char *wpa;       // null: BSS flags not written
    const char *wpa2;
};

constexpr CodeCase kCodes[] = {
    {"empty", "", nullptr, nullptr, nullptr},
    {"zero", "0", nullptr, nullptr, nullptr},
    {"wep", "1", "static-wep", nullptr, nullptr},
    {"wpa_personal", "2", "wpa-personal", "on", "off"},
    {"wpa_enterprise", "3", "wpa-enterprise", "on", "off"},
    {"wpa2_personal", "4", "wpa-personal", "off", "on"},
    {"wpa2_enterprise", "5", "wpa-enterprise", "off", "on"},
    {"plain", "6", "plain-text", nullptr, nullptr},
    {"seven", "7", nullptr, nullptr, nullptr},
    {"word", "wpa", nullptr, nullptr, nullptr},
    {"trailing_text", "4x", "wpa-personal", "off", "on"},
    {"full_width", "0006", "plain-text", nullptr, nullptr},
    {"negative", "-2", nullptr, nullptr, nullptr},
};

class SecuritySetter : public Wlan,
                       public ::testing::WithParamInterface<std::tuple<Selection, CodeCase>> {};

TEST_P(SecuritySetter, WritesSecurityThenBssFlags) {
    const auto &[sel, code] = GetParam();
    auto f = fieldOf(code.field, 4);
    EXPECT_EQ(sysSetWlanSecurity(f, sel.vap, sel.radio), 0);

    std::vector<Write> expected;
    if (code.security != nullptr)
        expected.push_back({"interface", sel.network, "", "security", code.security});
    if (code.wpa != nullptr) {
        expected.push_back({"bss", sel.bss, "", "wpa-allowed", code.wpa});
        expected.push_back({"bss", sel.bss, "", "wpa2-allowed", code.wpa2});
    }
    EXPECT_EQ(writes(), expected);
}

INSTANTIATE_TEST_SUITE_P(All, SecuritySetter,
                         ::testing::Combine(::testing::ValuesIn(kSelections), ::testing::ValuesIn(kCodes)),
                         [](const auto &p) {
                             return selectionName(std::get<0>(p.param)) + "_" +
                                    std::get<1>(p.param).name;
                         });

// ---- Per selection: SSID, VLAN id, key, radio status ---------------------

class PerSelection : public Wlan, public ::testing::WithParamInterface<Selection> {};

TEST_P(PerSelection, SsidAndVlanSettersNameTheirObjects) {
    const Selection &s = GetParam();
    auto ssid = fieldOf("guest-net", 32);
    auto vlan = fieldOf("1234", 4);
    sysSetWlanSsid(ssid, s.vap, s.radio);
    sysSetVapVlanId(vlan, s.vap, s.radio);

    std::vector<Write> expected;
    if (s.radioQualifier != nullptr) {
        expected.push_back({"interface", s.network, "", "ssid", "guest-net"});
        expected.push_back({"vap", s.vapObject, s.radioQualifier, "vlan-id", "1234"});
    }
    EXPECT_EQ(writes(), expected);
}

TEST_P(PerSelection, SsidAndVlanGettersReadTheirObjects) {
    const Selection &s = GetParam();
    setNetwork(s.network, "ssid", "office");
    store().set("vap", "vlan-id", "42", s.vapObject, "radio", s.radio == 0 ? "wlan1" : "wlan0");
    std::array<uint8_t, 32> ssid{};
    std::array<uint8_t, 4> vlan{};
    sysGetWlanSsid(ssid, s.vap, s.radio);
    sysGetVapVlanId(vlan, s.vap, s.radio);

    const bool served = s.radioQualifier != nullptr;
    EXPECT_EQ(textOf(ssid), served ? "office" : "");
    EXPECT_EQ(textOf(vlan), served ? "42" : "");
}

TEST_P(PerSelection, KeySetterFollowsSecurityWrittenJustBefore) {
    const Selection &s = GetParam();
    auto code = fieldOf("4", 4);
    auto key = fieldOf("passphrase", 16);
    sysSetWlanSecurity(code, s.vap, s.radio);
    sysSetWlanKey(key, s.vap, s.radio);

    std::vector<Write> expected{
        {"interface", s.network, "", "security", "wpa-personal"},
        {"bss", s.bss, "", "wpa-allowed", "off"},
        {"bss", s.bss, "", "wpa2-allowed", "on"},
        {"interface", s.network, "", "wpa-personal-key", "passphrase"},
    };
    EXPECT_EQ(writes(), expected);
}

TEST_P(PerSelection, KeyGetterReadsTheWepKeyInUse) {
    const Selection &s = GetParam();
    setNetwork(s.network, "security", "static-wep");
    setNetwork(s.network, "wep-default-key", "3");
    setNetwork(s.network, "wep-key-1", "wrong");
    setNetwork(s.network, "wep-key-3", "0123456789");
    std::array<uint8_t, 16> key{};
    sysGetWlanKey(key, s.vap, s.radio);
    EXPECT_EQ(textOf(key), "0123456789");
}

TEST_P(PerSelection, RadioStatusSwitchesTheRadioOnWhateverTheState) {
    const Selection &s = GetParam();
    sysSetRadioStatus(0, s.radio);
    std::vector<Write> expected;
    if (s.radioQualifier != nullptr)
        expected.push_back({"radio", s.radio == 0 ? "wlan1" : "wlan0", "", "status", "up"});
    EXPECT_EQ(writes(), expected);
}

INSTANTIATE_TEST_SUITE_P(All, PerSelection, ::testing::ValuesIn(kSelections),
                         [](const auto &p) { return selectionName(p.param); });

// ---- Key setter by stored security mode ----------------------------------

struct KeyCase {
    const char *name;
    const char *security;  // null: none stored
    const char *key;
    const char *writtenKey;  // null: nothing written
};

constexpr KeyCase kKeyCases[] = {
    {"wpa_personal", "wpa-personal", "secret-pass", "wpa-personal-key"},
    {"wpa_personal_empty", "wpa-personal", "", "wpa-personal-key"},
    {"wep", "static-wep", "abcde", "wep-key-2"},
    {"wep_empty", "static-wep", "", "wep-key-2"},
    {"plain", "plain-text", "ignored", nullptr},
    {"enterprise", "wpa-enterprise", "ignored", nullptr},
    {"unknown", "wpa3-sae", "ignored", nullptr},
    {"none", nullptr, "ignored", nullptr},
};

class KeySetter : public Wlan, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeySetter, WritesOnlyForWpaPersonalAndWep) {
    const KeyCase &c = GetParam();
    if (c.security != nullptr)
        setNetwork("wlan1vap3", "security", c.security);
    setNetwork("wlan1vap3", "wep-default-key", "2");
    resetMark();
    auto key = fieldOf(c.key, 16);
    sysSetWlanKey(key, 3, 0);

    std::vector<Write> expected;
    if (c.writtenKey != nullptr)
        expected.push_back({"interface", "wlan1vap3", "", c.writtenKey, c.key});
    EXPECT_EQ(writes(), expected);
}

INSTANTIATE_TEST_SUITE_P(All, KeySetter, ::testing::ValuesIn(kKeyCases),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(Wlan, KeySetterTakesAtMostTheFieldWidth) {
    setNetwork("wlan0", "security", "wpa-personal");
    resetMark();
    std::array<uint8_t, 16> key;
    std::memcpy(key.data(), "0123456789abcdef", 16);  // no terminator
    sysSetWlanKey(key, 0, 1);
    EXPECT_EQ(writes(), (std::vector<Write>{{"interface", "wlan0", "", "wpa-personal-key",
                                             "0123456789abcdef"}}));
}

TEST_F(Wlan, WepNetworkWithoutDefaultKeyWritesNoKey) {
    setNetwork("wlan0", "security", "static-wep");
    resetMark();
    auto key = fieldOf("abcde", 16);
    sysSetWlanKey(key, 0, 1);
    EXPECT_TRUE(writes().empty());
}

// ---- Security getter: the code that the setter would need ----------------

struct ReadBackCase {
    const char *name;
    const char *security;  // null: none stored
    const char *wpa;       // null: not stored
    const char *wpa2;      // null: not stored
    const char *code;      // "": field stays zero
};

constexpr ReadBackCase kReadBack[] = {
    {"plain", "plain-text", nullptr, nullptr, "6"},
    {"wep", "static-wep", "on", "on", "1"},
    {"personal_wpa2", "wpa-personal", "off", "on", "4"},
    {"personal_both", "wpa-personal", "on", "on", "4"},
    {"personal_wpa1", "wpa-personal", "on", "off", "2"},
    {"personal_wpa2_missing", "wpa-personal", "on", nullptr, "2"},
    {"enterprise_wpa2", "wpa-enterprise", "off", "on", "5"},
    {"enterprise_wpa1", "wpa-enterprise", "on", "off", "3"},
    {"enterprise_no_flags", "wpa-enterprise", nullptr, nullptr, "3"},
    {"unknown", "open", nullptr, nullptr, ""},
    {"none", nullptr, nullptr, nullptr, ""},
};

class SecurityGetter : public Wlan, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(SecurityGetter, ReportsTheSetterCode) {
    const ReadBackCase &c = GetParam();
    if (c.security != nullptr)
        setNetwork("wlan0vap6", "security", c.security);
    if (c.wpa != nullptr)
        store().set("bss", "wpa-allowed", c.wpa, "wlan0bssvap6");
    if (c.wpa2 != nullptr)
        store().set("bss", "wpa2-allowed", c.wpa2, "wlan0bssvap6");
    std::array<uint8_t, 4> code{};
    sysGetWlanSecurity(code, 6, 1);
    EXPECT_EQ(textOf(code), c.code);
    EXPECT_EQ(code[1], 0);
}

INSTANTIATE_TEST_SUITE_P(All, SecurityGetter, ::testing::ValuesIn(kReadBack),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(Wlan, EverySecurityCodeReadsBackAsWritten) {
    for (const char *code : {"1", "2", "3", "4", "5", "6"}) {
        auto in = fieldOf(code, 4);
        sysSetWlanSecurity(in, 2, 0);
        std::array<uint8_t, 4> out{};
        sysGetWlanSecurity(out, 2, 0);
        EXPECT_EQ(textOf(out), code);
    }
}

// ---- Field widths ----------------------------------------------------------

// The getters write into a window of a larger buffer; the bytes around it
// show whether a copy stayed inside its field.
struct Window {
    std::array<uint8_t, 48> buf;
    explicit Window() { buf.fill(0xEE); }
    std::span<uint8_t> field(size_t width) { return std::span(buf).subspan(8, width); }
    bool outsideUntouched(size_t width) const {
        for (size_t i = 0; i < buf.size(); i++)
            if ((i < 8 || i >= 8 + width) && buf[i] != 0xEE)
                return false;
        return true;
    }
};

TEST_F(Wlan, FullWidthSsidFillsItsFieldWithoutTerminator) {
    const std::string ssid(32, 'S');
    setNetwork("wlan1vap1", "ssid", ssid.c_str());
    Window w;
    sysGetWlanSsid(w.field(32), 1, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(w.field(32).data()), 32), ssid);
    EXPECT_TRUE(w.outsideUntouched(32));
}

TEST_F(Wlan, FullWidthSsidIsWrittenWhole) {
    auto f = fieldOf(std::string(32, 'Z'), 32);
    sysSetWlanSsid(f, 0, 1);
    EXPECT_EQ(store().get("interface", "ssid", "wlan0"), std::string(32, 'Z'));
}

struct CutCase {
    const char *name;
    const char *section;
    const char *object;
    const char *key;
    const char *qualKey;
    const char *qualValue;
    std::string stored;
    size_t width;
    int (*getter)(std::span<uint8_t>, int, int);
};

class LongValues : public Wlan, public ::testing::WithParamInterface<CutCase> {};

TEST_P(LongValues, AreCutToTheField) {
    const CutCase &c = GetParam();
    setNetwork("wlan1vap4", "security", "wpa-personal");
    store().set(c.section, c.key, c.stored.c_str(), c.object, c.qualKey, c.qualValue);
    Window w;
    c.getter(w.field(c.width), 4, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(w.field(c.width).data()), c.width),
              c.stored.substr(0, c.width));
    EXPECT_TRUE(w.outsideUntouched(c.width));
}

INSTANTIATE_TEST_SUITE_P(
    All, LongValues,
    ::testing::Values(CutCase{"ssid", "interface", "wlan1vap4", "ssid", nullptr, nullptr,
                              std::string(40, 'a') + "tail", 32, sysGetWlanSsid},
                      CutCase{"vlan", "vap", "vap4", "vlan-id", "radio", "wlan1", "123456", 4,
                              sysGetVapVlanId},
                      CutCase{"key", "interface", "wlan1vap4", "wpa-personal-key", nullptr,
                              nullptr, "0123456789abcdefXYZ", 16, sysGetWlanKey}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(Wlan, MissingValuesLeaveFieldsAsTheyWere) {
    Window w;
    sysGetWlanSsid(w.field(32), 0, 0);
    sysGetVapVlanId(w.field(4), 0, 0);
    sysGetWlanSecurity(w.field(4), 0, 0);
    sysGetWlanKey(w.field(16), 0, 0);
    EXPECT_TRUE(w.outsideUntouched(0));
}

TEST_F(Wlan, EmptyFieldsLeaveSettingsUnchanged) {
    std::array<uint8_t, 32> empty{};
    sysSetWlanSsid(empty, 0, 0);
    sysSetVapVlanId(std::span(empty).first(4), 0, 0);
    sysSetWlanSecurity(std::span(empty).first(4), 0, 0);
    EXPECT_TRUE(writes().empty());
}

// ---- Radio mode ------------------------------------------------------------

struct ModeCase {
    const char *name;
    int radio;
    const char *wlan1Mode;
    const char *wlan0Mode;
    uint8_t expected;  // from a byte that held 0xEE
};

constexpr ModeCase kModes[] = {
    {"bg", 0, "bg", "a", 0},
    {"bg_n", 0, "bg-n", "a", 0},
    {"n_only_g", 0, "n-only-g", "a", 0},
    {"a_on_wlan1", 0, "a", "a", 0xEE},
    {"a", 1, "bg", "a", 1},
    {"a_n", 1, "bg", "a-n", 1},
    {"n_only_a", 1, "bg", "n-only-a", 1},
    {"bg_on_wlan0", 1, "bg", "bg", 0xEE},
    {"long_value", 1, "bg", "n-only-a-extended", 0xEE},
    {"radio2", 2, "bg", "a", 0xEE},
};

class RadioMode : public Wlan, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RadioMode, GivesTheBandCode) {
    const ModeCase &c = GetParam();
    store().set("radio", "mode", c.wlan1Mode, "wlan1");
    store().set("radio", "mode", c.wlan0Mode, "wlan0");
    uint8_t code = 0xEE;
    sysGetWlanMode(code, c.radio);
    EXPECT_EQ(code, c.expected);
}

INSTANTIATE_TEST_SUITE_P(All, RadioMode, ::testing::ValuesIn(kModes),
                         [](const auto &p) { return std::string(p.param.name); });

// ---- Multi-SSID handlers ---------------------------------------------------

namespace ms = wire::multi_ssid;

wire::message_t requestHeader(uint16_t op) {
    wire::message_t h{};
    h.uMsgType = wire::kTypeRequest;
    h.uMsgTag = 0x1234;
    h.uOP_Code = op;
    h.uStatus = wire::kAddrUnicast;
    return h;
}

TEST_F(Wlan, SetHandlerWritesEntriesInOrderAfterTheRadio) {
    std::array<uint8_t, 4096> body{};
    body[ms::kRadio] = 1;
    body[ms::kRadioState] = 0;
    auto entry = [&](size_t k) { return std::span(body).subspan(ms::kSetEntries + k * ms::kEntryLen); };
    std::memcpy(entry(0).data() + ms::kSsid, "main", 4);
    std::memcpy(entry(4).data() + ms::kVlanId, "4094", 4);
    std::memcpy(entry(4).data() + ms::kSecurity, "3", 1);
    std::memcpy(entry(4).data() + ms::kKey, "not-written", 11);
    std::memcpy(entry(7).data() + ms::kSsid, std::string(32, 'L').data(), 32);
    std::memcpy(entry(7).data() + ms::kSecurity, "2", 1);
    std::memcpy(entry(7).data() + ms::kKey, "0123456789abcdef", 16);

    std::array<uint8_t, 4096> reply{};
    const auto hdr = requestHeader(wire::OP_SET_MULTI_SSID);
    EXPECT_EQ(funcSetMultiSSID_Config(&hdr, body, reply), 473u);

    std::vector<Write> expected{
        {"radio", "wlan0", "", "status", "up"},
        {"interface", "wlan0", "", "ssid", "main"},
        {"vap", "vap4", "radio=wlan0", "vlan-id", "4094"},
        {"interface", "wlan0vap4", "", "security", "wpa-enterprise"},
        {"bss", "wlan0bssvap4", "", "wpa-allowed", "on"},
        {"bss", "wlan0bssvap4", "", "wpa2-allowed", "off"},
        {"interface", "wlan0vap7", "", "ssid", std::string(32, 'L')},
        {"interface", "wlan0vap7", "", "security", "wpa-personal"},
        {"bss", "wlan0bssvap7", "", "wpa-allowed", "on"},
        {"bss", "wlan0bssvap7", "", "wpa2-allowed", "off"},
        {"interface", "wlan0vap7", "", "wpa-personal-key", "0123456789abcdef"},
    };
    EXPECT_EQ(writes(), expected);

    const auto out = wire::decode_header(reply);
    EXPECT_EQ(out.uMsgType, wire::kTypeReply);
    EXPECT_EQ(out.uMsgTag, 0x1234);
    EXPECT_EQ(out.uBodyLen, ms::kReplyBodyLen);
    EXPECT_TRUE(std::all_of(reply.begin() + 22, reply.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Wlan, GetHandlerFillsEntriesAtTheirOffsets) {
    store().set("radio", "mode", "a-n", "wlan0");
    setNetwork("wlan0", "ssid", "five");
    setNetwork("wlan0vap7", "ssid", "seventh");
    setNetwork("wlan0vap7", "security", "wpa-personal");
    store().set("bss", "wpa2-allowed", "on", "wlan0bssvap7");
    setNetwork("wlan0vap7", "wpa-personal-key", "k7");
    store().set("vap", "vlan-id", "77", "vap7", "radio", "wlan0");
    store().set("vap", "vlan-id", "11", "vap7", "radio", "wlan1");

    std::array<uint8_t, 4096> body{};
    body[ms::kRadio] = 1;
    std::array<uint8_t, 4096> reply{};
    const auto hdr = requestHeader(wire::OP_GET_MULTI_SSID);
    ASSERT_EQ(funcGetMultiSSID_Config(&hdr, body, reply), 473u);
    EXPECT_TRUE(writes().empty());

    const std::span<const uint8_t> b = std::span(reply).subspan(22, ms::kReplyBodyLen);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[ms::kReplyMode], 1);
    const size_t e0 = ms::kReplyEntries, e7 = ms::kReplyEntries + 7 * ms::kEntryLen;
    EXPECT_EQ(wire::load_text(b, e0 + ms::kSsid, ms::kSsidLen), "five");
    EXPECT_EQ(wire::load_text(b, e7 + ms::kSsid, ms::kSsidLen), "seventh");
    EXPECT_EQ(wire::load_text(b, e7 + ms::kVlanId, ms::kVlanIdLen), "77");
    EXPECT_EQ(wire::load_text(b, e7 + ms::kSecurity, ms::kSecurityLen), "4");
    EXPECT_EQ(wire::load_text(b, e7 + ms::kKey, ms::kKeyLen), "k7");
    EXPECT_TRUE(std::all_of(reply.begin() + 22 + ms::kReplyBodyLen, reply.end(),
                            [](uint8_t x) { return x == 0; }));
}

TEST_F(Wlan, HandlersDoNothingOnTheSecondCall) {
    EXPECT_EQ(funcGetMultiSSID_Config(nullptr, {}, {}), 0u);
    EXPECT_EQ(funcSetMultiSSID_Config(nullptr, {}, {}), 0u);
    EXPECT_TRUE(writes().empty());
}

}  // namespace
