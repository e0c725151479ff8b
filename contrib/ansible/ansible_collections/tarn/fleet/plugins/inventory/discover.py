# The access points that answer tarn discover on the segment, as hosts.

DOCUMENTATION = r"""
name: discover
short_description: Access points found by tarn discover
description:
  - Lists the tarnd access points that answer C(tarn discover --json) on the
    segment of the host Ansible runs on. Each becomes a host named after the
    device (its MAC when the name is empty, shared by two or holds other than
    letters, digits, dots, hyphens and underscores), in group
    C(tarn_devices) and in a group per model, C(model_<model>).
  - The devices are not reached by SSH; tasks for them run on the controller
    (C(ansible_connection=local)) and manage them with tarn, for example
    C(tarn -d {{ tarn_mac }} ...).
  - The file's name ends in C(tarn.yml) or C(tarn.yaml).
extends_documentation_fragment: [tarn.fleet.tarn]
options:
  plugin:
    description: This plugin.
    required: true
    choices: [tarn.fleet.discover]
  timeout:
    description: Seconds to wait for replies (C(-t)).
    type: float
"""

EXAMPLES = r"""
# fleet.tarn.yml
plugin: tarn.fleet.discover
interfaces: [eth1]
timeout: 2
"""

import re

from ansible.errors import AnsibleParserError
from ansible.plugins.inventory import BaseInventoryPlugin
from ansible_collections.tarn.fleet.plugins.module_utils.tarn import TarnError, run_json, tarn_argv


class InventoryModule(BaseInventoryPlugin):
    NAME = "tarn.fleet.discover"

    def verify_file(self, path):
        return super().verify_file(path) and path.endswith(("tarn.yml", "tarn.yaml"))

    def parse(self, inventory, loader, path, cache=True):
        super().parse(inventory, loader, path, cache)
        self._read_config_data(path)
        argv = tarn_argv(self.get_option("tarn"), self.get_option("interfaces"),
                         self.get_option("timeout"))
        try:
            rc, devices, err = run_json(argv + ["discover", "--json"])
        except TarnError as e:
            raise AnsibleParserError(str(e)) from None
        if rc != 0 or not isinstance(devices, list):
            raise AnsibleParserError(f"tarn discover failed (exit status {rc}): {err}")
        names = [d.get("name") for d in devices]
        self.inventory.add_group("tarn_devices")
        for d in devices:
            name = d.get("name") or ""
            # Ansible's own group and host names would not be this device.
            usable = (re.fullmatch(r"[\w.-]+", name) and names.count(name) == 1
                      and name not in ("all", "ungrouped", "localhost"))
            host = name if usable else d["mac"]
            self.inventory.add_host(host, group="tarn_devices")
            model = "model_" + re.sub(r"\W", "_", d.get("model") or "unknown")
            self.inventory.add_group(model)
            self.inventory.add_host(host, group=model)
            self.inventory.set_variable(host, "ansible_connection", "local")
            for key in ("mac", "ipv4", "name", "model", "firmware", "ipv6"):
                self.inventory.set_variable(host, "tarn_" + key, d.get(key))
