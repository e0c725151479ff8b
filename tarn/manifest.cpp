#include "manifest.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "credentials.h"
#include "errors.h"
#include "security.h"

namespace tarn {

std::string Location::text() const {
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

std::string Secret::text() const {
    switch (form) {
    case Form::Env:
        return "env:" + ref;
    case Form::File:
        return "file:" + ref;
    case Form::Plain:
        return "plain:" + ref;
    }
    return ref;
}

std::string Secret::resolve() const {
    switch (form) {
    case Form::Env:
        if (const char *v = std::getenv(ref.c_str()))
            return v;
        throw UsageError(where.text() + ": the environment variable " + ref +
                         " is not set, and the manifest takes a secret from it.");
    case Form::File: {
        // A relative path is relative to the manifest's folder, not to
        // wherever tarn happens to run.
        const size_t slash = where.file.rfind('/');
        const std::string path = ref.front() == '/' || slash == std::string::npos
                                     ? ref
                                     : where.file.substr(0, slash + 1) + ref;
        try {
            return readSecretFile(path, "secret");
        } catch (const UsageError &e) {
            throw UsageError(where.text() + ": " + e.what());
        }
    }
    case Form::Plain:
        return ref;
    }
    return {};
}

const ManifestDevice *Manifest::find(const Mac &mac) const {
    for (const ManifestDevice &d : devices)
        if (d.mac == mac)
            return &d;
    return nullptr;
}

namespace {

// Reads one device's node, naming the field and the line in every error.
class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    Location at(const YAML::Node &node) const {
        const YAML::Mark m = node.Mark();
        return {path_, m.is_null() ? 0 : m.line + 1};
    }

    [[noreturn]] void fail(const YAML::Node &node,
                           const std::string &field,
                           const std::string &reason) const {
        throw UsageError(at(node).text() + ": " + field + ": " + reason);
    }

    std::string scalar(const YAML::Node &n, const std::string &field) const {
        if (!n.IsScalar())
            fail(n, field,
                 n.IsNull() ? "has no value." : "takes a single value, not a list or map.");
        return n.Scalar();
    }

    long integer(const YAML::Node &n, const std::string &field) const {
        long v = 0;
        if (!n.IsScalar() || !YAML::convert<long>::decode(n, v))
            fail(n, field, "takes a whole number, not \"" + describe(n) + "\".");
        return v;
    }

    bool boolean(const YAML::Node &n, const std::string &field) const {
        bool v = false;
        if (!n.IsScalar() || !YAML::convert<bool>::decode(n, v))
            fail(n, field, "takes true or false, not \"" + describe(n) + "\".");
        return v;
    }

    Ipv4 ipv4(const YAML::Node &n, const std::string &field) const {
        const std::optional<Ipv4> ip = parseIpv4(scalar(n, field));
        if (!ip)
            fail(n, field, "takes an IPv4 address, not \"" + n.Scalar() + "\".");
        return *ip;
    }

    Secret secret(const YAML::Node &n, const std::string &field) const {
        const std::string text = scalar(n, field);
        const size_t colon = text.find(':');
        const std::string form = text.substr(0, colon == std::string::npos ? 0 : colon);
        Secret s;
        s.ref = colon == std::string::npos ? "" : text.substr(colon + 1);
        s.where = at(n);
        if (form == "env") {
            s.form = Secret::Form::Env;
            const bool name = !s.ref.empty() &&
                              !std::isdigit(static_cast<unsigned char>(s.ref[0])) &&
                              std::all_of(s.ref.begin(), s.ref.end(), [](char c) {
                                  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                              });
            if (!name)
                fail(n, field,
                     "env: takes the name of an environment variable, not \"" + s.ref + "\".");
        } else if (form == "file") {
            s.form = Secret::Form::File;
            if (s.ref.empty())
                fail(n, field, "file: takes the path of a file.");
        } else if (form == "plain") {
            s.form = Secret::Form::Plain;
        } else {
            fail(n, field,
                 "a secret is written env:NAME, file:PATH or plain:TEXT, so that no key is "
                 "written in the clear by accident.");
        }
        return s;
    }

    // Refuses a key given twice in one map, which YAML would let the last
    // one win silently.
    void once(std::map<std::string, int> &seen,
              const std::string &key,
              const YAML::Node &keyNode,
              const std::string &field) const {
        const auto [first, fresh] = seen.emplace(key, at(keyNode).line);
        if (!fresh)
            fail(keyNode, field,
                 "is given twice (also on line " + std::to_string(first->second) + ").");
    }

    // Each key of a map, refusing any that `known` does not list.
    template <typename F>
    void fields(const YAML::Node &map,
                const std::string &field,
                std::initializer_list<std::string_view> known,
                F &&take) const {
        if (!map.IsMap())
            fail(map, field, "takes a map of settings.");
        std::map<std::string, int> seen;
        for (const auto &kv : map) {
            const std::string key = kv.first.Scalar();
            const std::string name = field.empty() ? key : field + " " + key;
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                std::string names;
                for (std::string_view k : known)
                    names += (names.empty() ? "" : ", ") + std::string(k);
                fail(kv.first, name, "is not a setting here; the settings are " + names + ".");
            }
            once(seen, key, kv.first, name);
            take(key, kv.second, name);
        }
    }

    ManifestDevice device(const YAML::Node &keyNode, const YAML::Node &node) const;

private:
    static std::string describe(const YAML::Node &n) {
        return n.IsScalar() ? n.Scalar() : n.IsNull() ? "nothing" : "a list or map";
    }

    void address(ManifestDevice &d, const YAML::Node &n, const std::string &field) const;
    void network(ManifestDevice &d, const YAML::Node &radio, const std::string &field) const;

    std::string path_;
};

void Reader::address(ManifestDevice &d, const YAML::Node &n, const std::string &field) const {
    if (n.IsScalar()) {
        if (n.Scalar() != "dhcp")
            fail(n, field,
                 "takes dhcp or a map of ip, mask and gateway, not \"" + n.Scalar() + "\".");
        d.dhcp = true;
        return;
    }
    fields(n, field, {"ip", "mask", "gateway"},
           [&](const std::string &key, const YAML::Node &v, const std::string &f) {
               (key == "ip" ? d.ip : key == "mask" ? d.mask : d.gateway) = ipv4(v, f);
           });
    if (!d.ip || !d.mask)
        fail(n, field, "a static address needs ip and mask (the gateway is optional).");
    d.dhcp = false;
}

void Reader::network(ManifestDevice &d, const YAML::Node &radios, const std::string &field) const {
    if (!radios.IsMap())
        fail(radios, field, "takes a map of radios, \"2.4\" and \"5\".");
    std::map<std::string, int> bands;
    for (const auto &r : radios) {
        const std::string band = r.first.Scalar();
        const auto radio = std::find(kManifestRadios.begin(), kManifestRadios.end(), band);
        if (radio == kManifestRadios.end())
            fail(r.first, field + " " + band, "names no radio; they are \"2.4\" and \"5\".");
        if (!r.second.IsMap())
            fail(r.second, field + " " + band, "takes a map of networks numbered 0 to 7.");
        once(bands, band, r.first, field + " " + band);
        std::map<std::string, int> vaps;
        for (const auto &v : r.second) {
            long vap = -1;
            if (!YAML::convert<long>::decode(v.first, vap) || vap < 0 || vap > 7)
                fail(v.first, field + " " + band + "/" + v.first.Scalar(),
                     "names no network; they are numbered 0 to 7.");
            once(vaps, std::to_string(vap), v.first,
                 field + " " + band + "/" + std::to_string(vap));
            ManifestNetwork &net =
                d.wlan[radio - kManifestRadios.begin()][static_cast<size_t>(vap)];
            net.where = at(v.first);
            fields(v.second, field + " " + band + "/" + std::to_string(vap),
                   {"ssid", "vlan", "security", "key"},
                   [&](const std::string &key, const YAML::Node &x, const std::string &f) {
                       if (key == "ssid") {
                           net.ssid = scalar(x, f);
                       } else if (key == "vlan") {
                           net.vlan = integer(x, f);
                       } else if (key == "security") {
                           if (!securityByName(scalar(x, f)))
                               fail(x, f,
                                    "takes one of " + securityNames() + ", not \"" + x.Scalar() +
                                        "\".");
                           net.security = std::string(securityByName(x.Scalar())->name);
                       } else {
                           net.key = secret(x, f);
                       }
                   });
        }
    }
}

ManifestDevice Reader::device(const YAML::Node &keyNode, const YAML::Node &node) const {
    ManifestDevice d;
    d.where = at(keyNode);
    const std::optional<Mac> mac = parseMac(keyNode.Scalar());
    if (!mac)
        fail(keyNode, "devices", "\"" + keyNode.Scalar() + "\" is not a MAC address.");
    d.mac = *mac;
    if (node.IsNull())
        return d;
    fields(node, "",
           {"name", "address", "dns", "ipv6", "time", "management_vlan", "snmp", "ddns", "wlan"},
           [&](const std::string &key, const YAML::Node &v, const std::string &f) {
               if (key == "name") {
                   d.name = scalar(v, f);
               } else if (key == "address") {
                   address(d, v, f);
               } else if (key == "dns") {
                   if (v.IsScalar() && v.Scalar() == "dhcp") {
                       d.dns.emplace();
                       return;
                   }
                   if (!v.IsSequence() || v.size() < 1 || v.size() > 2)
                       fail(v, f, "takes dhcp or a list of one or two servers.");
                   d.dns.emplace();
                   for (const auto &server : v)
                       d.dns->push_back(ipv4(server, f));
               } else if (key == "ipv6") {
                   const std::string text = scalar(v, f);
                   if (text == "auto") {
                       d.ipv6Auto = true;
                       return;
                   }
                   const size_t slash = text.find('/');
                   const std::optional<Ipv6> ip = parseIpv6(text.substr(0, slash));
                   long prefix = -1;
                   if (slash != std::string::npos) {
                       std::istringstream in(text.substr(slash + 1));
                       in >> prefix;
                       if (!in.eof() || in.fail())
                           prefix = -1;
                   }
                   if (!ip || prefix < 0 || prefix > 128)
                       fail(v, f, "takes auto or ADDRESS/PREFIX, not \"" + text + "\".");
                   d.ipv6Auto = false;
                   d.ipv6 = std::pair(*ip, static_cast<uint8_t>(prefix));
               } else if (key == "time") {
                   ManifestTime &t = d.time.emplace();
                   fields(v, f, {"zone", "dst", "ntp"},
                          [&](const std::string &k, const YAML::Node &x, const std::string &g) {
                              bool on = false;
                              if (k == "zone")
                                  t.zone = integer(x, g);
                              else if (k == "dst")
                                  t.dst = boolean(x, g);
                              else if (YAML::convert<bool>::decode(x, on) && !on)
                                  t.ntp = "";
                              else
                                  t.ntp = scalar(x, g);
                          });
               } else if (key == "management_vlan") {
                   d.managementVlan = integer(v, f);
               } else if (key == "snmp") {
                   ManifestSnmp &s = d.snmp.emplace();
                   fields(v, f, {"enabled", "read_community", "write_community"},
                          [&](const std::string &k, const YAML::Node &x, const std::string &g) {
                              if (k == "enabled")
                                  s.enabled = boolean(x, g);
                              else
                                  (k == "read_community" ? s.readCommunity : s.writeCommunity) =
                                      secret(x, g);
                          });
               } else if (key == "ddns") {
                   ManifestDdns &dd = d.ddns.emplace();
                   fields(v, f, {"user", "password", "domain"},
                          [&](const std::string &k, const YAML::Node &x, const std::string &g) {
                              if (k == "password")
                                  dd.password = secret(x, g);
                              else
                                  (k == "user" ? dd.user : dd.domain) = scalar(x, g);
                          });
               } else {
                   network(d, v, f);
               }
           });
    return d;
}

// The defaults under a device's own settings, map by map: the device's
// value wins wherever both give one. Nodes keep their marks, so an error in
// a merged default names the defaults' line. Every pair of the device's own
// map is kept, even a key given twice, so that the reader can refuse it.
YAML::Node merged(const YAML::Node &defaults, const YAML::Node &own) {
    if (!defaults || defaults.IsNull())
        return own;
    if (!own || own.IsNull())
        return defaults;
    if (!defaults.IsMap() || !own.IsMap())
        return own;
    YAML::Node out(YAML::NodeType::Map);
    for (const auto &kv : defaults)
        if (!own[kv.first.Scalar()])
            out.force_insert(kv.first, kv.second);
    for (const auto &kv : own)
        out.force_insert(kv.first, merged(defaults[kv.first.Scalar()], kv.second));
    return out;
}

}  // namespace

Manifest parseManifest(const std::string &text, const std::string &path) {
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception &e) {
        throw UsageError(path + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg + ".");
    }
    const Reader reader(path);
    Manifest m;
    m.path = path;
    if (!root.IsMap())
        throw UsageError(path + ": a manifest is a map with devices (and defaults) at its top.");
    YAML::Node defaults, devices;
    reader.fields(root, "", {"version", "defaults", "devices"},
                  [&](const std::string &key, const YAML::Node &v, const std::string &f) {
                      if (key == "version") {
                          if (reader.integer(v, f) != 1)
                              reader.fail(v, f, "this tarn reads manifests of version 1.");
                          return;
                      }
                      (key == "defaults" ? defaults : devices) = v;
                  });
    if (defaults && !defaults.IsMap() && !defaults.IsNull())
        reader.fail(defaults, "defaults", "takes a map of settings.");
    if (!devices || !devices.IsMap())
        throw UsageError(
            path + ": devices: the manifest names no devices; list them by MAC under devices:.");
    for (const auto &kv : devices) {
        ManifestDevice d = reader.device(kv.first, merged(defaults, kv.second));
        if (const ManifestDevice *other = m.find(d.mac))
            reader.fail(kv.first, "devices",
                        formatMac(d.mac) + " is named twice (also on line " +
                            std::to_string(other->where.line) + ").");
        m.devices.push_back(std::move(d));
    }
    return m;
}

Manifest readManifest(const std::string &path) {
    errno = 0;
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        throw UsageError("cannot read the manifest " + path + ": " +
                         std::strerror(errno != 0 ? errno : EIO) + ".");
    return parseManifest(text.str(), path);
}

}  // namespace tarn
