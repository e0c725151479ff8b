// VLAN and SNMP handlers: the commands they run, the settings they write and
// in which order. The reply bytes are checked over the wire in the sandbox.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "recorded_commands.h"
#include "req_func_vlan_snmp.h"
#include "wire.h"

namespace {

class Handlers : public CommandTest {
protected:
    // The result code of the 38-byte acknowledgement of `handler`.
    uint32_t send(decltype(&funcVLAN_Config) handler, uint16_t op) {
        wire::message_t h{wire::kTypeRequest, 0, op, {}, {}, 0, 0, 0};
        std::array<uint8_t, 4096> reply{};
        EXPECT_EQ(handler(&h, body_, reply), 38u);
        return wire::load_le32(reply, 22);
    }
    std::array<uint8_t, 4096> body_{};
};

// A request naming any option is refused and runs nothing; only the first
// byte of an option text counts.
TEST_F(Handlers, VlanRunsTheTwoSubmitStepsUnlessAnOptionIsSet) {
    for (size_t at : {wire::vlan::kOpt1Flag, wire::vlan::kOpt1Text, wire::vlan::kOpt2Flag,
                      wire::vlan::kOpt2Text}) {
        body_.fill(0);
        body_[at] = 'x';
        EXPECT_EQ(send(funcVLAN_Config, wire::OP_VLAN_CONFIG), wire::vlan::kResultRefused) << at;
    }
    EXPECT_TRUE(g_commands.empty());
    body_.fill(0);
    wire::store_le32(body_, wire::vlan::kVlanId, 100);
    body_[wire::vlan::kOpt2Text + 1] = 'x';
    EXPECT_EQ(send(funcVLAN_Config, wire::OP_VLAN_CONFIG), 0u);
    EXPECT_EQ(g_commands, (std::vector<std::string>{"submit SET_IPADDRESS", "submit COMMIT"}));
    EXPECT_TRUE(store().journal().empty());
}

TEST_F(Handlers, SnmpWritesItsSettingsThenTheCommitTrigger) {
    // The read-only community runs right into the read-write one: each is
    // taken whole at its 32 bytes.
    const std::string ro(32, 'R'), rw(32, 'W');
    body_[wire::snmp::kState] = 0x2A;  // any non-zero state is "up"; printed in hex
    std::memcpy(&body_[wire::snmp::kRoCommunity], ro.data(), 32);
    std::memcpy(&body_[wire::snmp::kRwCommunity], rw.data(), 32);
    testing::internal::CaptureStdout();
    EXPECT_EQ(send(funcSNMP_Config, wire::OP_SNMP_CONFIG), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "uState = 2a\n(SNMP read-only community) strName = " + ro +
                  "\n(SNMP read-write community) strTemp = " + rw + "\n");
    EXPECT_EQ(store().takeWrites(),
              (std::vector<std::string>{"snmp.status=up", "snmp.ro-community=" + ro,
                                        "snmp.rw-community=" + rw, "config.startup=running"}));
    EXPECT_TRUE(g_commands.empty());
}

}  // namespace
