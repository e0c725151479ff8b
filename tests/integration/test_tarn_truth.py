"""tarn changes only what it was asked to and claims only what the device reports."""
import functools

import pytest

import tarnclient as tc
from conftest import PASSWORD, TARN, ran, run_seeing_requests, tarnd_writes

LONG_KEY = "a-29-character-wpa-passphrase"
# Seconds tarn listens for a second answer: a busy machine delivers every one inside it.
GRACE = 5


@pytest.fixture
def cut_ap(ap_factory):
    """The main 2.4 GHz passphrase and network 7's SSID are longer than their fields."""
    return ap_factory(seed=[("interface", "wlan1", "wpa-personal-key", LONG_KEY),
                            ("interface", "wlan1vap7", "ssid", "S" * 40)])


def test_wlan_set_never_writes_back_a_value_it_may_have_read_cut(cut_ap, tarn):
    def visitors(*args):
        return tarn("-d", cut_ap.ip_text, "wlan", "set", "--radio", "2.4", "--vap", "1", "--ssid",
                    "visitors", *args)
    seq = cut_ap.journal_seq()
    res = ran(visitors(), 2, "the key of network 0, the SSID of network 7 of the 2.4 GHz radio")
    assert "--key-for 0=VALUE --ssid-for 7=VALUE (nothing was changed)" in res.stderr
    # A new key longer than the field is refused, not cut.
    ran(visitors("--key-for", "0=" + LONG_KEY, "--ssid-for", "7=seven"), 2,
        "longer than the device's field of 16 bytes")
    assert (tarnd_writes(cut_ap, seq), cut_ap.store_get("interface", "wpa-personal-key",
                                                        object="wlan1")) == ([], LONG_KEY)
    ran(visitors("--key-for", "0=new-main-key", "--ssid-for", "7=seven"),
        stdout="reports it back as sent")
    assert [cut_ap.store_get("interface", k, object=o) for o, k in [
        ("wlan1", "wpa-personal-key"), ("wlan1vap1", "ssid"), ("wlan1vap7", "ssid")]] == \
        ["new-main-key", "visitors", "seven"]


def test_wlan_set_checks_keys_and_keeps_them(ap, at):
    def wlan_set(vap, *args):
        return at("wlan", "set", "--radio", "5", "--vap", str(vap), *args)
    seq = ap.journal_seq()
    # open: no key to keep
    ran(wlan_set(2, "--security", "wpa2-personal"), 2, "becomes wpa2-personal, which needs a key")
    # A key the device cannot use is refused before anything is sent.
    ran(wlan_set(2, "--security", "static-wep", "--key", "abc"), 2, "5 or 13 characters")
    assert tarnd_writes(ap, seq) == []
    ran(wlan_set(2, "--security", "wpa2-personal", "--key", "passphrase2"))
    ran(wlan_set(3, "--security", "static-wep", "--key", "abcde"))
    # An open network's old key, even one filling its field, is neither asked for nor read back.
    ran(wlan_set(4, "--security", "wpa2-personal", "--key", "sixteen-byte-key"))
    ran(wlan_set(4, "--security", "open"))
    assert ap.store_get("interface", "security", object="wlan0vap4") == "plain-text"
    ran(wlan_set(4, "--ssid", "guests"))
    # A four-digit VLAN id fills its field, yet is whole.
    ran(wlan_set(5, "--vlan", "4094"))
    ran(wlan_set(5, "--ssid", "vlan-guests"))


def test_writes_are_read_back(ap, at):
    ap.lsql("lock", "interface", "ssid", "--object", "wlan0vap3", "--error", "read-only")
    ran(at("wlan", "set", "--radio", "5", "--vap", "3", "--ssid", "staff"), 1,
        'accepted network 3 of the 5 GHz radio, but the device still reports network 3 SSID "".')
    ap.lsql("lock", "system", "system-name", "--error", "read-only")
    ran(at("set", "--name", "lobby"), 1,
        'accepted the settings, but the device still reports name "tarn-ap1"')
    # This device keeps neither the dynamic-DNS account nor the time settings.
    ran(at("ddns", "set", "--user", "someone"), 1, "accepted the dynamic-DNS settings, but the "
        'device still reports dynamic DNS off, user ""')
    ran(at("time", "set", "--timezone", "-5"), 1, "but the device still reports time zone 0")
    ran(at("time", "set", "--date", "now"), stdout="reports them back")
    for cmd in (("vlan", "1"), ("snmp", "off", "--ro", "public", "--rw", "private")):
        ran(at(*cmd), stdout="so tarn cannot read")


def test_set_refuses_what_the_device_should_not_apply(ap, at, tarn):
    seq = ap.journal_seq()
    for args, why in [
            (("set", "--ip", "192.0.2.50", "--mask", "255.0.255.0"),
             "255.0.255.0 is not a network mask"),
            (("set", "--gateway", "198.51.100.1"),
             "the gateway 198.51.100.1 is outside the subnet of 192.0.2.11 with mask 255.255.255.0"),
            (("set", "--name", ""), "the name may not be empty"),
            (("set", "--dns", "192.0.2.53,192.0.2.54,192.0.2.55"), "--dns takes one or two servers"),
            (("time", "set", "--date", "20261301000000"), "--date takes a date and time"),
            (("time", "set", "--date", "20250229120000"), "--date takes a date and time"),
            (("time", "set", "--timezone", "99"),
             "--timezone (hours from UTC) takes a whole number from -12 to 14")]:
        ran(at(*args), 2, why)
    assert tarnd_writes(ap, seq) == [] and "DateTime =" not in ap.stdout_text()
    ran(at("set", "--name", "lobby"), stdout="written back as discovery reported them: DHCP off, "
        "address 192.0.2.11, mask 255.255.255.0, gateway 192.0.2.1, DNS servers 192.0.2.53, "
        "192.0.2.54")
    # A name that fills its field may have been cut: it must be given.
    ap.store_set("system", "system-name", "n" * 70)
    ran(at("set", "--dns-dhcp"), 2, "give the name with --name")
    assert ap.store_get("host", "dns-via-dhcp") == "down"


def test_a_forged_answer_stops_the_command(ap, client, segment):
    """Another host answers a multi-SSID get twice, differently: nothing is written either way."""
    seq = ap.journal_seq()
    seen = {"forged": 0, "sets": 0}

    def forge(h, data):
        seen["sets"] += h.op == 0xD1
        if h.op == 0xD8 and not seen["forged"]:
            for fill in (b"\x01", b"\x02"):
                body = fill * 64
                client.reply_sock.sendto(
                    tc.header(tc.TYPE_REPLY, h.tag, h.op, h.mac, h.ip, tc.STATUS_OK, 0, len(body)) +
                    body, (tc.BROADCAST, tc.PORT_REPLY))
            seen["forged"] += 2

    code, out, err = run_seeing_requests(
        segment, ["env", f"TARN_PASSWORD={PASSWORD}", f"TARN_REPLY_GRACE={GRACE}", TARN, "-d",
                  ap.ip_text, "wlan", "set", "--radio", "5", "--vap", "1", "--ssid", "visitors"],
        forge, limit=60)
    assert (seen, code, err, tarnd_writes(ap, seq)) == ({"forged": 2, "sets": 0}, 1, "tarn: "
            f"conflicting replies for {ap.mac_text}: is another host answering for it?\n", [])


def test_two_devices_with_one_mac_or_one_address(ap_factory, tarn):
    first, clone, same_ip = ap_factory(count=3)
    # The daemon answers with the MAC and the address in use that the store holds.
    clone.store_set("management", "mac", first.mac_text)
    tarn = functools.partial(tarn, env={"TARN_REPLY_GRACE": str(GRACE)})
    res = ran(tarn("discover"))
    assert (res.stderr, [line.split()[0] for line in res.stdout.splitlines()[1:]].count(
        first.mac_text)) == (f"tarn: two devices answer as {first.mac_text}\n", 2), res.stdout
    assert ran(tarn("-d", first.mac_text, "info"), 1).stderr == \
        f"tarn: conflicting replies for {first.mac_text}: is another host answering for it?\n"
    same_ip.store_set("management", "ip", first.ip_text)
    assert ran(tarn("-d", first.ip_text, "info"), 2).stderr == \
        f"tarn: {first.ip_text} is used by 2 devices; give the MAC.\n"
    ran(tarn("-d", first.ip_text, "discover"), 0,
        "tarn: discover lists every device; it ignores -d 192.0.2.11.\n")

