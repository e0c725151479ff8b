// VLAN and SNMP handlers: the commands they run, the settings they write,
// their order, and the replies.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "req_func_vlan_snmp.h"
#include "sys_cmd.h"
#include "temp_store.h"
#include "wire.h"

namespace {

TempStore &store() {
    static TempStore s;
    return s;
}

std::vector<std::string> g_commands;

int recordCommand(const char *command) {
    g_commands.emplace_back(command);
    return 0;
}

struct Write {
    std::string section, object, key, value;
    bool operator==(const Write &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Write &w) {
    return os << "{" << w.section << ", " << w.object << ", " << w.key << ", \"" << w.value << "\"}";
}

wire::message_t requestHeader(uint16_t op) {
    wire::message_t h{};
    h.uMsgType = wire::kTypeRequest;
    h.uMsgTag = 0xBEEF;
    h.uOP_Code = op;
    h.uStatus = wire::kAddrUnicast;
    const uint8_t mac[6] = {2, 0, 0, 0, 0, 9};
    const uint8_t ip[4] = {192, 0, 2, 19};
    std::memcpy(h.ucMac, mac, 6);
    std::memcpy(h.ucIp, ip, 4);
    return h;
}

class Handlers : public ::testing::Test {
protected:
    void SetUp() override {
        store().clear();
        mark_ = store().journal().size();
        g_commands.clear();
        sysSetShellExec(recordCommand);
        reply_.fill(0);
    }
    std::vector<Write> writes() const {
        std::vector<Write> out;
        auto journal = store().journal();
        for (size_t i = mark_; i < journal.size(); i++)
            out.push_back({journal[i].section, journal[i].object, journal[i].key, journal[i].value});
        return out;
    }
    // Checks the 38-byte acknowledgement and returns its result code.
    uint32_t resultOf(unsigned len, uint16_t op) const {
        EXPECT_EQ(len, 38u);
        const auto h = wire::decode_header(reply_);
        const auto req = requestHeader(op);
        EXPECT_EQ(h.uMsgType, wire::kTypeReply);
        EXPECT_EQ(h.uMsgTag, 0xBEEF);
        EXPECT_EQ(h.uOP_Code, op);
        EXPECT_EQ(std::memcmp(h.ucMac, req.ucMac, 6), 0);
        EXPECT_EQ(std::memcmp(h.ucIp, req.ucIp, 4), 0);
        EXPECT_EQ(h.uStatus, 0);
        EXPECT_EQ(h.uRetFlag, 2);
        EXPECT_EQ(h.uBodyLen, 16);
        for (size_t i = 26; i < reply_.size(); i++)
            EXPECT_EQ(reply_[i], 0) << "byte " << i;
        return wire::load_le32(reply_, 22);
    }

    std::array<uint8_t, 4096> body_{};
    std::array<uint8_t, 4096> reply_{};

private:
    size_t mark_ = 0;
};

// ---- VLAN ------------------------------------------------------------------

class Vlan : public Handlers {
protected:
    unsigned send() {
        const auto h = requestHeader(wire::OP_VLAN_CONFIG);
        return funcVLAN_Config(&h, body_, reply_);
    }
};

TEST_F(Vlan, AcceptedIdRunsSubmitStepsInOrder) {
    wire::store_le32(body_, wire::vlan::kVlanId, 100);
    std::memcpy(body_.data(), "leading text is not used", 24);
    EXPECT_EQ(resultOf(send(), wire::OP_VLAN_CONFIG), 0u);
    EXPECT_EQ(g_commands, (std::vector<std::string>{"submit SET_IPADDRESS", "submit COMMIT"}));
}

TEST_F(Vlan, IdZeroIsAcceptedToo) {
    EXPECT_EQ(resultOf(send(), wire::OP_VLAN_CONFIG), 0u);
    EXPECT_EQ(g_commands.size(), 2u);
}

TEST_F(Vlan, ShortRequestPassesTheOptionChecks) {
    const auto h = requestHeader(wire::OP_VLAN_CONFIG);
    const std::array<uint8_t, 34> shortBody{};
    EXPECT_EQ(resultOf(funcVLAN_Config(&h, shortBody, reply_), wire::OP_VLAN_CONFIG), 0u);
    EXPECT_EQ(g_commands.size(), 2u);
}

class VlanOption : public Vlan, public ::testing::WithParamInterface<size_t> {};

TEST_P(VlanOption, SetOptionRefusesTheRequest) {
    wire::store_le32(body_, wire::vlan::kVlanId, 100);
    body_[GetParam()] = 'x';
    EXPECT_EQ(resultOf(send(), wire::OP_VLAN_CONFIG), wire::vlan::kResultRefused);
    EXPECT_TRUE(g_commands.empty());
    EXPECT_TRUE(writes().empty());
}

INSTANTIATE_TEST_SUITE_P(All, VlanOption,
                         ::testing::Values(wire::vlan::kOpt1Flag, wire::vlan::kOpt1Text,
                                           wire::vlan::kOpt2Flag, wire::vlan::kOpt2Text));

TEST_F(Vlan, LaterOptionTextBytesDoNotRefuse) {
    // Only the first byte of an option text is looked at.
    body_[wire::vlan::kOpt2Text + 1] = 'x';
    EXPECT_EQ(resultOf(send(), wire::OP_VLAN_CONFIG), 0u);
    EXPECT_EQ(g_commands.size(), 2u);
}

// ---- SNMP ------------------------------------------------------------------

class Snmp : public Handlers {
protected:
    unsigned send() {
        const auto h = requestHeader(wire::OP_SNMP_CONFIG);
        return funcSNMP_Config(&h, body_, reply_);
    }
    void community(size_t off, const std::string &text) {
        std::memcpy(body_.data() + off, text.data(), text.size());
    }
};

struct SnmpCase {
    const char *name;
    uint8_t state;
    std::string ro;
    std::string rw;
    const char *status;
};

class SnmpWrites : public Snmp, public ::testing::WithParamInterface<SnmpCase> {};

TEST_P(SnmpWrites, AllThreeSettingsThenTheCommitTrigger) {
    const SnmpCase &c = GetParam();
    body_[wire::snmp::kState] = c.state;
    community(wire::snmp::kRoCommunity, c.ro);
    community(wire::snmp::kRwCommunity, c.rw);

    testing::internal::CaptureStdout();
    const unsigned len = send();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(resultOf(len, wire::OP_SNMP_CONFIG), 0u);
    const std::string ro = c.ro.substr(0, 32), rw = c.rw.substr(0, 32);
    EXPECT_EQ(writes(), (std::vector<Write>{
                            {"snmp", "", "status", c.status},
                            {"snmp", "", "ro-community", ro},
                            {"snmp", "", "rw-community", rw},
                            {"config", "", "startup", "running"},
                        }));
    char state[32];
    std::snprintf(state, sizeof state, "uState = %x\n", c.state);
    EXPECT_EQ(out, std::string(state) + "(SNMP read-only community) strName = " + ro +
                       "\n(SNMP read-write community) strTemp = " + rw + "\n");
    EXPECT_TRUE(g_commands.empty());
}

INSTANTIATE_TEST_SUITE_P(
    All, SnmpWrites,
    ::testing::Values(SnmpCase{"off", 0, "public", "private", "down"},
                      SnmpCase{"on", 1, "public", "private", "up"},
                      SnmpCase{"state7", 7, "a", "b", "up"},
                      SnmpCase{"state_ff", 0xFF, "a", "b", "up"},
                      SnmpCase{"empty_communities", 1, "", "", "up"},
                      // The read-only community runs right into the
                      // read-write one: each is cut at its 32 bytes.
                      SnmpCase{"full_width", 1, std::string(32, 'R'), std::string(32, 'W'), "up"}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(Snmp, SecondCallDoesNothing) {
    EXPECT_EQ(funcSNMP_Config(nullptr, {}, {}), 0u);
    EXPECT_EQ(funcVLAN_Config(nullptr, {}, {}), 0u);
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(g_commands.empty());
}

}  // namespace
