-- Wireshark/tshark dissector for the tarn management protocol.
--
--   tshark -X lua_script:tools/wireshark/tarn.lua -r capture.pcap
--
-- One UDP datagram per message, broadcast to port 62976 (requests and
-- announcements) or 62992 (replies). Every message starts with the same
-- 22-byte header whose 16-bit fields are little-endian; addresses are bytes
-- in network order. Protected operations put a 128-byte credential block
-- (Base64 user name and password) between the header and the body.
--
-- Replies are matched to their request by tag, operation and MAC. Replies
-- to discovery, neighbour and multi-SSID requests carry the device's own
-- MAC; when their request was broadcast (MAC FF:FF:FF:FF:FF:FF) they are
-- matched by tag and operation alone, so one broadcast request collects the
-- replies of every device that answered.

local tarn = Proto("tarn", "Tarn management protocol")

local PORT_REQUEST = 62976
local PORT_REPLY = 62992

local HEADER_LEN = 22
local CRED_FIELD_LEN = 64
local CRED_LEN = 2 * CRED_FIELD_LEN

local TYPE_REQUEST = 0xFDFD
local TYPE_REPLY = 0xFEEE
local TYPE_ANNOUNCE = 0xFFFF
local OP_ANNOUNCE = 0x00A0
local ADDR_BROADCAST = 0x0000
local STATUS_OK = 0

-- ---------------------------------------------------------------------------
-- Operations: the protocol's table of operations (proto/operations.h), in
-- its order; a test compares names, credential blocks and body sizes with
-- it. auth = the request carries a credential block; the body then starts
-- at offset 150 instead of 22.

local OPS = {
    [0x00A1] = { name = "discover", auth = false },
    [0x00A2] = { name = "set-basic-info", auth = true },
    [0x00A3] = { name = "user-verify", auth = true },
    [0x00A4] = { name = "change-admin", auth = true },
    [0x00A5] = { name = "query-supported", auth = true },
    [0x00A6] = { name = "get-net-adv", auth = true },
    [0x00A7] = { name = "set-net-adv", auth = true },
    [0x00AA] = { name = "factory-reset-keep-ip", auth = true },
    [0x00AB] = { name = "factory-reset", auth = true },
    [0x00AC] = { name = "get-datetime", auth = true },
    [0x00AD] = { name = "set-datetime", auth = true },
    [0x00C0] = { name = "commit", auth = true },
    [0x00C9] = { name = "query-net-status", auth = true },
    [0x00D0] = { name = "query-neighbor", auth = false },
    [0x00D1] = { name = "set-multi-ssid", auth = true },
    [0x00D2] = { name = "vlan-config", auth = true },
    [0x00D4] = { name = "snmp-config", auth = false },
    [0x00D8] = { name = "get-multi-ssid", auth = true },
    [0x0100] = { name = "firmware-upgrade", auth = false },
    [0x0101] = { name = "config-backup", auth = false },
    [0x0102] = { name = "config-restore", auth = false },
    [0x0103] = { name = "reboot", auth = false },
}

local OP_NAMES = { [OP_ANNOUNCE] = "announcement" }
for code, op in pairs(OPS) do OP_NAMES[code] = op.name end

local TYPE_NAMES = { [TYPE_REQUEST] = "Request", [TYPE_REPLY] = "Reply",
                     [TYPE_ANNOUNCE] = "Announcement" }
local ADDRESSING_NAMES = { [0x0000] = "Broadcast", [0x7777] = "Addressed" }
local STATUS_NAMES = { [0] = "OK", [2] = "Authentication failed", [3] = "Not supported" }

-- ---------------------------------------------------------------------------
-- Header and matching fields

local hf = {
    type = ProtoField.uint16("tarn.type", "Message type", base.HEX, TYPE_NAMES),
    tag = ProtoField.uint16("tarn.tag", "Tag", base.HEX),
    op = ProtoField.uint16("tarn.op", "Operation", base.HEX, OP_NAMES),
    mac = ProtoField.ether("tarn.mac", "MAC address"),
    ip = ProtoField.ipv4("tarn.ip", "IPv4 address"),
    addressing = ProtoField.uint16("tarn.addressing", "Addressing mode", base.HEX,
                                   ADDRESSING_NAMES),
    status = ProtoField.uint16("tarn.status", "Result status", base.DEC, STATUS_NAMES),
    ret_flag = ProtoField.uint16("tarn.ret_flag", "Return flag", base.DEC),
    body_len = ProtoField.uint16("tarn.body_len", "Body length", base.DEC),
    cred = ProtoField.none("tarn.cred", "Credentials"),
    cred_user = ProtoField.string("tarn.cred.user", "User name"),
    cred_password_len = ProtoField.uint16("tarn.cred.password_len", "Password length",
                                          base.DEC),
    body = ProtoField.none("tarn.body", "Body"),
    ignored = ProtoField.bytes("tarn.ignored", "Data the device does not read"),
    data = ProtoField.bytes("tarn.data", "Undecoded data"),
    response_in = ProtoField.framenum("tarn.response_in", "Response in", base.NONE,
                                      frametype.RESPONSE),
    request_in = ProtoField.framenum("tarn.request_in", "Request in", base.NONE,
                                     frametype.REQUEST),
    time = ProtoField.relative_time("tarn.time", "Response time"),
}

local ef = {
    short_header = ProtoExpert.new("tarn.short_header", "Truncated header",
                                   expert.group.MALFORMED, expert.severity.ERROR),
    unknown_type = ProtoExpert.new("tarn.unknown_type", "Unknown message type",
                                   expert.group.MALFORMED, expert.severity.ERROR),
    unknown_op = ProtoExpert.new("tarn.unknown_op", "Unknown operation",
                                 expert.group.PROTOCOL, expert.severity.WARN),
    bad_addressing = ProtoExpert.new("tarn.bad_addressing", "Invalid addressing mode",
                                     expert.group.PROTOCOL, expert.severity.WARN),
    body_len = ProtoExpert.new("tarn.body_len.mismatch", "Body length disagrees with datagram",
                               expert.group.MALFORMED, expert.severity.WARN),
    short_cred = ProtoExpert.new("tarn.cred.truncated", "Truncated credential block",
                                 expert.group.MALFORMED, expert.severity.WARN),
    bad_base64 = ProtoExpert.new("tarn.bad_base64", "Not Base64 text",
                                 expert.group.MALFORMED, expert.severity.WARN),
    short_body = ProtoExpert.new("tarn.body.truncated", "Body shorter than the operation's",
                                 expert.group.MALFORMED, expert.severity.WARN),
    bad_code = ProtoExpert.new("tarn.bad_code", "Value outside the protocol's codes",
                               expert.group.PROTOCOL, expert.severity.WARN),
    refused = ProtoExpert.new("tarn.refused", "Request refused",
                              expert.group.RESPONSE_CODE, expert.severity.NOTE),
    no_terminator = ProtoExpert.new("tarn.supported.unterminated",
                                    "Operation list without its terminating 0",
                                    expert.group.MALFORMED, expert.severity.WARN),
}

-- ---------------------------------------------------------------------------
-- Body layouts. Each item names one field: kind, offset from the first body
-- byte, width. A ProtoField "tarn.<prefix>.<key>" is made for each at load
-- time; items of layouts with the same prefix and key share their field.

local fields_by_abbrev = {}

local KIND = {
    text = function(a, l) return ProtoField.string(a, l) end,
    -- Date and time as 14 digits, also shown readable.
    datetime = function(a, l) return ProtoField.string(a, l) end,
    ipv4 = function(a, l) return ProtoField.ipv4(a, l) end,
    ipv6 = function(a, l) return ProtoField.ipv6(a, l) end,
    mac = function(a, l) return ProtoField.ether(a, l) end,
    u8 = function(a, l, vs) return ProtoField.uint8(a, l, base.DEC, vs) end,
    x8 = function(a, l, vs) return ProtoField.uint8(a, l, base.HEX, vs) end,
    u16 = function(a, l, vs) return ProtoField.uint16(a, l, base.DEC, vs) end,
    u32 = function(a, l, vs) return ProtoField.uint32(a, l, base.DEC, vs) end,
    bytes = function(a, l) return ProtoField.bytes(a, l) end,
    -- Base64 text shown decoded.
    b64 = function(a, l) return ProtoField.string(a, l) end,
    -- Secrets (Base64 or plain text): only their length is shown.
    secret_b64 = function(a, l) return ProtoField.uint16(a, l .. " length", base.DEC) end,
    secret = function(a, l) return ProtoField.uint16(a, l .. " length", base.DEC) end,
    -- Security code: decimal text "1".."6".
    security = function(a, l, vs) return ProtoField.uint8(a, l, base.DEC, vs) end,
    -- A run of fixed-size entries with their own items.
    entries = function(a, l) return ProtoField.none(a, l) end,
}

local KIND_WIDTH = { ipv4 = 4, ipv6 = 16, mac = 6, u8 = 1, x8 = 1, u16 = 2, u32 = 4 }

-- item(kind, key, label, offset[, width][, options])
-- options: names (value_string of the field), strict (a value outside the
-- names is marked), describe (function of the value and the body context
-- returning the text appended to the item).
local function item(kind, key, label, off, width, opts)
    if type(width) == "table" then width, opts = nil, width end
    opts = opts or {}
    return { kind = kind, key = key, label = label, off = off,
             width = width or KIND_WIDTH[kind], names = opts.names, strict = opts.strict,
             describe = opts.describe, entry = opts.entry, count = opts.count }
end

local function reserved(off, width)
    return item("bytes", "reserved", "Reserved", off, width)
end

local function on_off(zero, nonzero)
    return function(v) return v == 0 and zero or nonzero end
end

-- Flag bytes
local DNS_MODE_NAMES = { [0] = "DNS servers from DHCP", [1] = "Static DNS servers" }
local DHCP_STATE_NAMES = { [1] = "DHCP client on", [0xFF] = "DHCP client off" }
local IPV6_AUTO_NAMES = { [0] = "Static IPv6 settings", [1] = "IPv6 autoconfiguration" }
local RADIO_NAMES = { [0] = "wlan1", [1] = "wlan0" }
local RADIO_MODE_NAMES = { [0] = "2.4 GHz", [1] = "5 GHz" }
local SECURITY_NAMES = {
    [0] = "Not reported",
    [1] = "Static WEP",
    [2] = "WPA-Personal (WPA)",
    [3] = "WPA-Enterprise (WPA)",
    [4] = "WPA-Personal (WPA2)",
    [5] = "WPA-Enterprise (WPA2)",
    [6] = "Open",
}
local RESULT_NAMES = {
    [0] = "Done",
    [3] = "Refused: a VLAN option is set",
    [1001] = "Refused: the user name is not admin",
    [1006] = "Refused: the new password has a character that is not allowed",
}
local USER_VERIFY_NAMES = { [1] = "Administrator", [2] = "Not the administrator" }
local NTP_NAMES = { [0] = "NTP client off", [1] = "NTP client on" }
local SUB_SERVICE_NAMES = { [1] = "Start", [2] = "Query" }
local SERVER_TYPE_NAMES = { [1] = "TFTP", [2] = "HTTP" }
local ADDR_TYPE_NAMES = { [1] = "IPv4", [2] = "IPv6" }

local function bit2(v)
    return bit32.band(v, 2) ~= 0
end

local SSID_ENTRY = {
    item("text", "ssid", "SSID", 0, 32),
    item("text", "vlan_id", "VLAN id", 32, 4),
    item("security", "security", "Security", 36, 4, { names = SECURITY_NAMES }),
    item("secret", "key_len", "Key", 40, 16),
}

local function layout(prefix, len, items)
    return { prefix = prefix, len = len, items = items }
end

local NO_BODY = layout("none", 0, {})

local RESULT = layout("result", 16, {
    item("u32", "code", "Result", 0, { names = RESULT_NAMES }),
    reserved(4, 12),
})

local ANNOUNCEMENT_BODY = layout("announce", 295, {
    item("text", "device_type", "Device type", 0, 64),
    item("text", "op_mode", "Operation mode", 64, 32),
    item("text", "fw_version", "Firmware version", 96, 32),
    item("mac", "mac", "MAC address", 128),
    item("text", "hw_version", "Hardware version", 134, 32),
    reserved(166, 32),
    item("text", "system_name", "System name", 198, 64),
    item("ipv4", "ip", "IPv4 address", 262),
    item("ipv4", "mask", "Network mask", 266),
    item("text", "port_name", "Port name", 270, 8),
    item("ipv6", "ipv6", "IPv6 address", 278),
    item("u8", "ipv6_prefix_len", "IPv6 prefix length", 294),
})

local DISCOVER_REPLY = layout("discover", 483, {
    item("text", "product_name", "Product name", 0, 64),
    item("text", "device_type", "Device type", 64, 64),
    item("text", "model", "Model", 128, 32),
    item("text", "fw_version", "Firmware version", 160, 32),
    item("u16", "proto_version", "Protocol version", 192),
    reserved(194, 4),
    item("mac", "mac", "MAC address", 198),
    item("text", "system_name", "System name", 204, 64),
    item("ipv4", "ip", "IPv4 address", 268),
    item("u16", "web_port", "Web port", 272),
    reserved(274, 1),
    item("u8", "dns_mode", "DNS mode", 275, { names = DNS_MODE_NAMES }),
    item("ipv4", "mask", "Network mask", 276),
    item("ipv4", "gateway", "Default gateway", 280),
    item("ipv4", "dns1", "First DNS server", 284),
    item("ipv4", "dns2", "Second DNS server", 288),
    item("x8", "dhcp", "DHCP client", 292, { names = DHCP_STATE_NAMES }),
    item("datetime", "datetime", "Date and time", 293, 16),
    item("u8", "time_zone", "Time zone", 309),
    reserved(310, 1),
    item("u8", "daylight_saving", "Daylight saving", 311),
    item("text", "op_mode", "Operation mode", 312, 32),
    item("text", "hw_version", "Hardware version", 344, 32),
    reserved(376, 32),
    item("text", "port_name", "Port name", 408, 8),
    item("ipv6", "ipv6", "IPv6 address", 416),
    item("u8", "ipv6_prefix_len", "IPv6 prefix length", 432),
    item("ipv6", "ipv6_gateway", "IPv6 default gateway", 433),
    reserved(449, 32),
    item("u8", "ipv6_auto", "IPv6 mode", 481, { names = IPV6_AUTO_NAMES }),
    reserved(482, 1),
})

local NEIGHBOR_REPLY = layout("neighbor", 231, {
    item("u8", "marker", "Marker", 0),
    item("text", "device_type", "Device type", 1, 64),
    item("text", "op_mode", "Operation mode", 65, 32),
    item("text", "fw_version", "Firmware version", 97, 32),
    item("mac", "mac", "MAC address", 129),
    item("text", "system_name", "System name", 135, 64),
    item("ipv4", "ip", "IPv4 address", 199),
    item("ipv4", "mask", "Network mask", 203),
    item("ipv6", "ipv6", "IPv6 address", 207),
    item("text", "port_name", "Port name", 223, 8),
})

local BASIC_INFO_REQUEST = layout("basic", 155, {
    item("text", "system_name", "System name", 0, 64),
    item("ipv4", "ip", "Static IPv4 address", 64),
    reserved(68, 3),
    item("u8", "static_dns", "DNS", 71,
         { describe = on_off("DNS servers from DHCP", "Static DNS servers") }),
    item("ipv4", "mask", "Static network mask", 72),
    item("ipv4", "gateway", "Static default gateway", 76),
    item("ipv4", "dns1", "First DNS server", 80),
    item("ipv4", "dns2", "Second DNS server", 84),
    item("u8", "dhcp", "DHCP", 88, { describe = on_off("Static IPv4 settings", "DHCP client on") }),
    item("ipv6", "ipv6", "Static IPv6 address", 89),
    item("u8", "ipv6_prefix_len", "IPv6 prefix length", 105),
    item("ipv6", "ipv6_gateway", "IPv6 default gateway (not applied)", 106),
    reserved(122, 32),
    item("u8", "ipv6_auto", "IPv6", 154,
         { describe = on_off("Static IPv6 settings", "IPv6 autoconfiguration") }),
})

local USER_VERIFY_REPLY = layout("user_verify", 4, {
    item("u32", "result", "User", 0, { names = USER_VERIFY_NAMES }),
})

local CHANGE_ADMIN_REQUEST = layout("change_admin", 128, {
    item("b64", "user", "User name", 0, 64),
    item("secret_b64", "password_len", "New password", 64, 64),
})

local NET_ADV = layout("ddns", 525, {
    reserved(0, 129),
    item("x8", "enable", "Dynamic DNS", 129,
         { describe = function(v) return bit2(v) and "enabled" or "disabled" end }),
    item("x8", "status", "Dynamic DNS client", 130,
         { describe = function(v) return bit2(v) and "connected" or "not connected" end }),
    item("u8", "option", "Option", 131, { describe = function(v)
        return v == 255 and "leave unchanged" or nil end }),
    item("text", "user", "Account name", 132, 64),
    item("secret", "password_len", "Account password", 196, 64),
    item("text", "domain", "Host name", 260, 64),
    item("u8", "extra_len", "Extra text length", 324),
    item("text", "extra", "Extra text", 325, 200),
})

local NET_STATUS_REPLY = layout("net_status", 20, {
    item("u32", "link_local", "Link-local address", 0,
         { names = { [0] = "No", [1] = "Yes (169.254.0.0/16)" } }),
    item("ipv4", "ip", "Current IPv4 address", 4),
    reserved(8, 12),
})
-- A device whose management interface is not its bridge answers with the
-- header alone.
NET_STATUS_REPLY.may_be_empty = true

local function datetime_items() return {
    item("datetime", "datetime", "Date and time", 0, 16),
    item("u8", "time_zone", "Time zone", 16),
    reserved(17, 1),
    item("u8", "daylight_saving", "Daylight saving", 18),
    item("u8", "ntp", "NTP", 19, { names = NTP_NAMES }),
    item("text", "ntp_server", "NTP server", 20, 64),
} end
local DATETIME_SET_REQUEST = layout("datetime", 84, datetime_items())
-- The get reply carries 16 more bytes.
local DATETIME_GET_REPLY = layout("datetime", 100, datetime_items())
table.insert(DATETIME_GET_REPLY.items, reserved(84, 16))

local VLAN_REQUEST = layout("vlan", 166, {
    item("text", "leading_text", "Leading text (not used)", 0, 32),
    item("u32", "id", "VLAN id", 32),
    item("u8", "opt1_flag", "Option 1 flag", 36),
    item("text", "opt1_text", "Option 1 text", 37, 64),
    item("u8", "opt2_flag", "Option 2 flag", 101),
    item("text", "opt2_text", "Option 2 text", 102, 64),
})

local SNMP_REQUEST = layout("snmp", 65, {
    item("u8", "state", "SNMP agent", 0, { describe = on_off("off", "on") }),
    item("text", "ro_community", "Read-only community", 1, 32),
    item("text", "rw_community", "Read-write community", 33, 32),
})

local function ssid_entries(off)
    return item("entries", "entry", "Network", off, 56, { entry = SSID_ENTRY, count = 8 })
end

local MULTI_SSID_GET_REQUEST = layout("wlan", 1, {
    item("u8", "radio", "Radio", 0, { names = RADIO_NAMES }),
})

local MULTI_SSID_GET_REPLY = layout("wlan", 451, {
    reserved(0, 2),
    item("u8", "radio_mode", "Radio mode", 2, { names = RADIO_MODE_NAMES }),
    ssid_entries(3),
})

local MULTI_SSID_SET_REQUEST = layout("wlan", 450, {
    item("u8", "radio", "Radio", 0, { names = RADIO_NAMES }),
    item("u8", "radio_state", "Radio state (not read: the radio is switched on)", 1),
    ssid_entries(2),
})

local MULTI_SSID_SET_REPLY = layout("wlan", 451, { reserved(0, 451) })

-- Transfers (firmware upgrade, configuration backup and restore) share
-- their bodies; the address and file name move with the address type.
local TRANSFER_HEAD = {
    item("u8", "sub_service", "Sub-service", 0, { names = SUB_SERVICE_NAMES, strict = true }),
    item("u8", "server_type", "Server type", 1, { names = SERVER_TYPE_NAMES, strict = true }),
    item("u8", "addr_type", "Address type", 2, { names = ADDR_TYPE_NAMES, strict = true }),
}
local function transfer_request(addr_kind, addr_width)
    local items = { table.unpack(TRANSFER_HEAD) }
    items[#items + 1] = item(addr_kind, "server_" .. addr_kind, "Server address", 3)
    items[#items + 1] = item("text", "file", "File name", 3 + addr_width, 128)
    return layout("transfer", 3 + addr_width + 128, items)
end
local TRANSFER_REQUEST_V4 = transfer_request("ipv4", 4)
local TRANSFER_REQUEST_V6 = transfer_request("ipv6", 16)
local TRANSFER_REQUEST_HEAD = layout("transfer", 3, TRANSFER_HEAD)
local TRANSFER_QUERY = layout("transfer", 1, { TRANSFER_HEAD[1] })

-- What a transfer reply's result means, by operation and sub-service.
local TRANSFER_RESULTS = {
    [0x0100] = {
        [1] = { [0] = "Started", [1] = "Refused" },
        [2] = { [2] = "Query answered" },
    },
    [0x0101] = {
        [1] = { [0] = "Done", [1] = "Refused" },
        [2] = { [0] = "Complete", [1] = "Not running or failed", [2] = "Idle",
                [3] = "Complete" },
    },
    [0x0102] = {
        [1] = { [0] = "Started", [1] = "Refused" },
        [2] = { [1] = "Failed or not running", [2] = "Running or idle", [3] = "Complete" },
    },
}

local TRANSFER_REPLY = layout("transfer", 130, {
    item("u8", "sub_service", "Sub-service", 0, { names = SUB_SERVICE_NAMES, strict = true }),
    item("u8", "result", "Result", 1, { describe = function(v, ctx)
        local by_sub = TRANSFER_RESULTS[ctx.op][ctx.body(0, 1):uint()]
        ctx.result_name = by_sub and by_sub[v]
        return ctx.result_name
    end }),
    item("text", "message", "Message", 2, 128),
})

local SUPPORTED_REPLY = { prefix = "supported", special = "op_list" }

-- The request and reply layout of every operation. A function picks the
-- layout from the body itself.
local BODIES = {
    [0x00A1] = { request = NO_BODY, reply = DISCOVER_REPLY },
    [0x00A2] = { request = BASIC_INFO_REQUEST, reply = RESULT },
    [0x00A3] = { request = NO_BODY, reply = USER_VERIFY_REPLY },
    [0x00A4] = { request = CHANGE_ADMIN_REQUEST, reply = RESULT },
    [0x00A5] = { request = NO_BODY, reply = SUPPORTED_REPLY },
    [0x00A6] = { request = NO_BODY, reply = NET_ADV },
    [0x00A7] = { request = NET_ADV, reply = RESULT },
    [0x00AA] = { request = NO_BODY, reply = RESULT },
    [0x00AB] = { request = NO_BODY, reply = RESULT },
    [0x00AC] = { request = NO_BODY, reply = DATETIME_GET_REPLY },
    [0x00AD] = { request = DATETIME_SET_REQUEST, reply = RESULT },
    [0x00C0] = { request = NO_BODY, reply = RESULT },
    [0x00C9] = { request = NO_BODY, reply = NET_STATUS_REPLY },
    [0x00D0] = { request = NO_BODY, reply = NEIGHBOR_REPLY },
    [0x00D1] = { request = MULTI_SSID_SET_REQUEST, reply = MULTI_SSID_SET_REPLY },
    [0x00D2] = { request = VLAN_REQUEST, reply = RESULT },
    [0x00D4] = { request = SNMP_REQUEST, reply = RESULT },
    [0x00D8] = { request = MULTI_SSID_GET_REQUEST, reply = MULTI_SSID_GET_REPLY },
    [0x0103] = { request = NO_BODY, reply = RESULT },
}

local function pick_transfer_request(body)
    if body == nil then return TRANSFER_REQUEST_V4 end
    if body(0, 1):uint() == 2 then return TRANSFER_QUERY end
    if body:len() < 3 then return TRANSFER_REQUEST_V4 end
    local addr_type = body(2, 1):uint()
    if addr_type == 1 then return TRANSFER_REQUEST_V4 end
    if addr_type == 2 then return TRANSFER_REQUEST_V6 end
    return TRANSFER_REQUEST_HEAD
end
for _, op in ipairs({ 0x0100, 0x0101, 0x0102 }) do
    BODIES[op] = { request = pick_transfer_request, reply = TRANSFER_REPLY }
end

-- ---------------------------------------------------------------------------
-- Field registration

local kinds_by_abbrev = {}

local function register(abbrev, kind, label, names)
    local f = fields_by_abbrev[abbrev]
    if not f then
        f = KIND[kind](abbrev, label, names)
        fields_by_abbrev[abbrev] = f
        kinds_by_abbrev[abbrev] = kind
    end
    assert(kinds_by_abbrev[abbrev] == kind, abbrev .. " has two kinds")
    return f
end

local function register_items(prefix, items)
    for _, it in ipairs(items) do
        local p = it.kind == "bytes" and "tarn" or "tarn." .. prefix
        it.field = register(p .. "." .. it.key, it.kind, it.label, it.names)
        if it.entry then register_items(prefix, it.entry) end
    end
end

local all_layouts = { ANNOUNCEMENT_BODY, TRANSFER_REQUEST_V4, TRANSFER_REQUEST_V6,
                      TRANSFER_REQUEST_HEAD, TRANSFER_QUERY }
for _, b in pairs(BODIES) do
    for _, l in pairs(b) do
        if type(l) == "table" and l.items then all_layouts[#all_layouts + 1] = l end
    end
end
for _, l in ipairs(all_layouts) do register_items(l.prefix, l.items) end

hf.supported_op = ProtoField.uint16("tarn.supported.op", "Supported operation", base.HEX,
                                    OP_NAMES)
hf.supported_end = ProtoField.uint16("tarn.supported.end", "End of list", base.HEX)
hf.transfer_result_name = ProtoField.string("tarn.transfer.result_name", "Result meaning")

do
    local list = {}
    for _, f in pairs(hf) do list[#list + 1] = f end
    for _, f in pairs(fields_by_abbrev) do list[#list + 1] = f end
    tarn.fields = list
    local experts = {}
    for _, e in pairs(ef) do experts[#experts + 1] = e end
    tarn.experts = experts
end

-- ---------------------------------------------------------------------------
-- Value helpers

-- A fixed-width text field ends at its first zero byte or at its width.
local function field_text(range)
    local raw = range:raw()
    local nul = raw:find("\0", 1, true)
    return nul and raw:sub(1, nul - 1) or raw
end

local function is_base64(text)
    return #text % 4 == 0 and text:match("^[A-Za-z0-9+/]*=?=?$") ~= nil
end

-- Decoded length of Base64 text, worked out from its length and padding
-- so that a password never has to be decoded.
local function base64_decoded_len(text)
    local pad = #text:match("=*$")
    return math.floor(#text / 4) * 3 - pad
end

local function base64_decode(text)
    return ByteArray.new(text, true):base64_decode():raw()
end

local function datetime_readable(text)
    local y, mo, d, h, mi, s = text:match("^(%d%d%d%d)(%d%d)(%d%d)(%d%d)(%d%d)(%d%d)$")
    if not y then return nil end
    return string.format("%s-%s-%s %s:%s:%s", y, mo, d, h, mi, s)
end

-- ---------------------------------------------------------------------------
-- Field dissection

local add_items

local ADD = {}

function ADD.text(tree, it, range)
    return tree:add(it.field, range, field_text(range))
end

function ADD.datetime(tree, it, range)
    local text = field_text(range)
    local ti = tree:add(it.field, range, text)
    local readable = datetime_readable(text)
    if readable then ti:append_text(" (" .. readable .. ")") end
    return ti
end

function ADD.b64(tree, it, range)
    local text = field_text(range)
    if not is_base64(text) then
        local ti = tree:add(it.field, range, text)
        ti:add_proto_expert_info(ef.bad_base64, it.label .. " is not Base64 text")
        return ti
    end
    return tree:add(it.field, range, base64_decode(text))
end

function ADD.secret_b64(tree, it, range)
    local text = field_text(range)
    if not is_base64(text) then
        local ti = tree:add(it.field, range, #text)
        ti:append_text(" characters (not shown)")
        ti:add_proto_expert_info(ef.bad_base64, it.label .. " is not Base64 text")
        return ti
    end
    return tree:add(it.field, range, base64_decoded_len(text)):append_text(" bytes (not shown)")
end

function ADD.secret(tree, it, range)
    return tree:add(it.field, range, #field_text(range)):append_text(" bytes (not shown)")
end

function ADD.security(tree, it, range)
    local text = field_text(range)
    local code = text == "" and 0 or tonumber(text:match("^%d+$") or "")
    if code == nil or code > 255 then
        local ti = tree:add(it.field, range, 0)
        ti:set_text(it.label .. ": \"" .. text .. "\"")
        ti:add_proto_expert_info(ef.bad_code, "Security code is not a number")
        return ti
    end
    local ti = tree:add(it.field, range, code)
    if not SECURITY_NAMES[code] then
        ti:add_proto_expert_info(ef.bad_code, "Unknown security code " .. code)
    end
    return ti
end

function ADD.entries(tree, it, range, ctx)
    for k = 0, it.count - 1 do
        local off = k * it.width
        if off + it.width > range:len() then return false end
        local sub = range(off, it.width)
        local st = tree:add(it.field, sub)
        st:set_text(string.format("%s %d (%s)", it.label, k,
                                  k == 0 and "main network" or "virtual AP " .. k))
        local ssid = field_text(sub(0, 32))
        if ssid ~= "" then st:append_text(": " .. ssid) end
        add_items(st, it.entry, sub, ctx)
    end
    return true
end

local function add_number(tree, it, range, ctx)
    local ti = tree:add_le(it.field, range)
    local v = range:le_uint()
    if it.strict and not it.names[v] then
        ti:add_proto_expert_info(ef.bad_code, string.format(
            "%s %d is not one of the protocol's codes", it.label, v))
    end
    if it.describe then
        local text = it.describe(v, ctx)
        if text then ti:append_text(" (" .. text .. ")") end
    end
    return ti
end
for _, k in ipairs({ "u8", "x8", "u16", "u32" }) do ADD[k] = add_number end

local function add_plain(tree, it, range)
    return tree:add(it.field, range)
end
for _, k in ipairs({ "ipv4", "ipv6", "mac", "bytes" }) do ADD[k] = add_plain end

-- Adds the items that fit into `range`; returns false when the range ended
-- before the last item.
function add_items(tree, items, range, ctx)
    local whole = true
    for _, it in ipairs(items) do
        local width = it.kind == "entries" and it.width * it.count or it.width
        local avail = range:len() - it.off
        if avail < width then
            whole = false
            -- Entries are shown one by one as far as they are there.
            if it.kind == "entries" and avail > 0 then
                ADD.entries(tree, it, range(it.off, avail), ctx)
            end
            break
        end
        local r = range(it.off, width)
        ADD[it.kind](tree, it, r, ctx)
    end
    return whole
end

-- ---------------------------------------------------------------------------
-- Bodies

local SPECIAL = {}

-- Supported operations: 16-bit codes up to a 16-bit 0.
function SPECIAL.op_list(tree, body)
    local n = body:len()
    local off = 0
    while off + 2 <= n do
        local r = body(off, 2)
        if r:le_uint() == 0 then
            tree:add_le(hf.supported_end, r)
            return off + 2
        end
        tree:add_le(hf.supported_op, r)
        off = off + 2
    end
    tree:add_proto_expert_info(ef.no_terminator)
    return off
end

local function body_range(tvb, off)
    if tvb:len() <= off then return nil end
    return tvb(off)
end

-- Dissects a body by its layout. Returns the number of bytes that the
-- layout covers.
local function dissect_layout(tree, lay, body, ctx)
    if lay.special then return SPECIAL[lay.special](tree, body) end
    local n = body and body:len() or 0
    if n == 0 and (lay.len == 0 or lay.may_be_empty) then return 0 end
    if n == 0 then
        tree:add_proto_expert_info(ef.short_body, string.format(
            "No body: the operation's body has %d bytes; the device reads zeros", lay.len))
        return 0
    end
    if not add_items(tree, lay.items, body, ctx) or n < lay.len then
        tree:add_proto_expert_info(ef.short_body, string.format(
            "Body of %d bytes, shorter than the operation's %d; the device reads zeros",
            n, lay.len))
    end
    return math.min(n, lay.len)
end

local function add_trailing(tree, tvb, off)
    if tvb:len() > off then tree:add(hf.ignored, tvb(off)) end
end

-- ---------------------------------------------------------------------------
-- Request/response matching

-- Filled on the first pass over the capture and kept for redisplay.
local pending = {}   -- "tag:op:mac" or "tag:op:bcast" -> request frame
local requests = {}  -- request frame -> { time = abs time, replies = { frames } }
local replies = {}   -- reply frame -> { request = frame, delta = seconds }

function tarn.init()
    pending, requests, replies = {}, {}, {}
end

local function match_key(tag, op, who)
    return string.format("%04x:%04x:%s", tag, op, who)
end

local function remember_request(pinfo, tag, op, mac, addressing)
    local who = addressing == ADDR_BROADCAST and "bcast" or tostring(mac)
    pending[match_key(tag, op, who)] = pinfo.number
    requests[pinfo.number] = { time = pinfo.abs_ts, replies = {} }
end

local function remember_reply(pinfo, tag, op, mac)
    local req = pending[match_key(tag, op, tostring(mac))] or pending[match_key(tag, op, "bcast")]
    if not req then return end
    local r = requests[req]
    r.replies[#r.replies + 1] = pinfo.number
    replies[pinfo.number] = { request = req, delta = pinfo.abs_ts - r.time }
end

local function nstime(seconds)
    local s = math.floor(seconds)
    return NSTime.new(s, math.floor((seconds - s) * 1e9 + 0.5))
end

local function show_matches(tree, pinfo, msg_type)
    if msg_type == TYPE_REQUEST then
        local r = requests[pinfo.number]
        for _, f in ipairs(r and r.replies or {}) do
            tree:add(hf.response_in, f):set_generated()
        end
    elseif msg_type == TYPE_REPLY then
        local r = replies[pinfo.number]
        if r then
            tree:add(hf.request_in, r.request):set_generated()
            tree:add(hf.time, nstime(r.delta)):set_generated()
        end
    end
end

-- ---------------------------------------------------------------------------
-- Header and message

local function add_credentials(tree, tvb)
    local avail = tvb:len() - HEADER_LEN
    local ct = tree:add(hf.cred, tvb(HEADER_LEN, math.min(avail, CRED_LEN)))
    if avail < CRED_LEN then
        ct:add_proto_expert_info(ef.short_cred, string.format(
            "Credential block of %d bytes, 128 expected", avail))
    end
    local fields = {
        { kind = "b64", field = hf.cred_user, label = "User name", off = 0 },
        { kind = "secret_b64", field = hf.cred_password_len, label = "Password",
          off = CRED_FIELD_LEN },
    }
    for _, f in ipairs(fields) do
        local have = avail - f.off
        if have <= 0 then break end
        ADD[f.kind](ct, f, tvb(HEADER_LEN + f.off, math.min(have, CRED_FIELD_LEN)))
    end
    return ct
end

local function info_text(hdr)
    local s = string.format("%s %s (0x%04x) tag 0x%04x", TYPE_NAMES[hdr.type],
                            OP_NAMES[hdr.op] or "Unknown", hdr.op, hdr.tag)
    if hdr.type == TYPE_REQUEST then
        s = s .. ", " .. (ADDRESSING_NAMES[hdr.status] or "invalid addressing"):lower()
    elseif hdr.type == TYPE_REPLY and hdr.status ~= STATUS_OK then
        s = s .. ", " .. (STATUS_NAMES[hdr.status] or "status " .. hdr.status):lower()
    end
    return s
end

-- The header fields after the message type; returns them with the items
-- that expert infos attach to.
local function dissect_header(tree, tvb, msg_type)
    local hdr = { type = msg_type, tag = tvb(2, 2):le_uint(), op = tvb(4, 2):le_uint(),
                  mac = tvb(6, 6):ether(), status = tvb(16, 2):le_uint(),
                  stated = tvb(20, 2):le_uint() }
    tree:add_le(hf.tag, tvb(2, 2))
    hdr.op_item = tree:add_le(hf.op, tvb(4, 2))
    local mac_item = tree:add(hf.mac, tvb(6, 6))
    local ip_item = tree:add(hf.ip, tvb(12, 4))
    if msg_type == TYPE_REQUEST then
        mac_item:append_text(" (target)")
        ip_item:append_text(" (target)")
        local ai = tree:add_le(hf.addressing, tvb(16, 2))
        if not ADDRESSING_NAMES[hdr.status] then
            ai:append_text(" (invalid: the device drops the request)")
            ai:add_proto_expert_info(ef.bad_addressing, string.format(
                "Invalid addressing mode 0x%04x: neither broadcast nor addressed", hdr.status))
        end
    else
        local si = tree:add_le(hf.status, tvb(16, 2))
        if hdr.status ~= STATUS_OK then
            si:add_proto_expert_info(ef.refused, STATUS_NAMES[hdr.status] or
                                     "Status " .. hdr.status)
        end
    end
    tree:add_le(hf.ret_flag, tvb(18, 2))
    hdr.len_item = tree:add_le(hf.body_len, tvb(20, 2))
    return hdr
end

local function op_known(hdr)
    if hdr.type == TYPE_ANNOUNCE then return hdr.op == OP_ANNOUNCE end
    return OPS[hdr.op] ~= nil
end

-- Where the body starts and which layout describes it. A refusal (status
-- other than OK) carries the header alone, so it has no layout.
local function body_layout(hdr)
    if hdr.type == TYPE_ANNOUNCE then return HEADER_LEN, ANNOUNCEMENT_BODY end
    if hdr.type == TYPE_REQUEST then
        return OPS[hdr.op].auth and HEADER_LEN + CRED_LEN or HEADER_LEN, BODIES[hdr.op].request
    end
    return HEADER_LEN, hdr.status == STATUS_OK and BODIES[hdr.op].reply or nil
end

local function check_body_len(hdr, len, body_off)
    local actual = math.max(len - body_off, 0)
    if actual ~= hdr.stated then
        hdr.len_item:add_proto_expert_info(ef.body_len, string.format(
            "Body length %d, but %d body bytes follow %s", hdr.stated, actual,
            body_off > HEADER_LEN and "the credential block" or "the header"))
    end
end

local function dissect_body(tree, tvb, pinfo, hdr, body_off, lay)
    local body = body_range(tvb, body_off)
    if type(lay) == "function" then lay = lay(body) end
    if not lay then
        if body then tree:add(hf.data, body) end
        return
    end
    local bt = tree
    if body then
        bt = tree:add(hf.body, body)
        bt:set_text((OP_NAMES[hdr.op]) .. " body")
    end
    local ctx = { op = hdr.op, body = body }
    local used = dissect_layout(bt, lay, body, ctx)
    if ctx.result_name then
        bt:add(hf.transfer_result_name, body(1, 1), ctx.result_name):set_generated()
        pinfo.cols.info:append(", " .. ctx.result_name)
    end
    add_trailing(tree, tvb, body_off + used)
end

local function match(tree, pinfo, hdr)
    if not pinfo.visited then
        if hdr.type == TYPE_REQUEST then
            remember_request(pinfo, hdr.tag, hdr.op, hdr.mac, hdr.status)
        elseif hdr.type == TYPE_REPLY then
            remember_reply(pinfo, hdr.tag, hdr.op, hdr.mac)
        end
    end
    show_matches(tree, pinfo, hdr.type)
end

function tarn.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "TARN"
    local len = tvb:len()
    local tree = root:add(tarn, tvb())

    if len < HEADER_LEN then
        tree:add(hf.data, tvb())
        tree:add_proto_expert_info(ef.short_header, string.format(
            "Truncated header: %d of %d bytes", len, HEADER_LEN))
        pinfo.cols.info = string.format("Truncated header (%d bytes)", len)
        return len
    end

    local msg_type = tvb(0, 2):le_uint()
    local type_item = tree:add_le(hf.type, tvb(0, 2))
    if not TYPE_NAMES[msg_type] then
        type_item:add_proto_expert_info(ef.unknown_type, string.format(
            "Unknown message type 0x%04x: not a request, reply or announcement", msg_type))
        tree:add(hf.data, tvb(2))
        pinfo.cols.info = string.format("Unknown message type 0x%04x", msg_type)
        return len
    end

    local hdr = dissect_header(tree, tvb, msg_type)
    pinfo.cols.info = info_text(hdr)
    if op_known(hdr) then
        local body_off, lay = body_layout(hdr)
        if body_off > HEADER_LEN then add_credentials(tree, tvb) end
        check_body_len(hdr, len, body_off)
        dissect_body(tree, tvb, pinfo, hdr, body_off, lay)
    else
        -- Without the operation neither the credential block nor the body
        -- can be told apart.
        hdr.op_item:add_proto_expert_info(ef.unknown_op, string.format(
            "Unknown operation 0x%04x: body not decoded", hdr.op))
        if hdr.type ~= TYPE_REQUEST then check_body_len(hdr, len, HEADER_LEN) end
        if len > HEADER_LEN then tree:add(hf.data, tvb(HEADER_LEN)) end
    end
    match(tree, pinfo, hdr)
    return len
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(PORT_REQUEST, tarn)
udp_port:add(PORT_REPLY, tarn)
