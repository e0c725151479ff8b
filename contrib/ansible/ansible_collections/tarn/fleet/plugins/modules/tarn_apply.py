# Carries out a fleet manifest with tarn on the host it runs on: in check
# mode the plan, otherwise apply; changed only when a device was written.

DOCUMENTATION = r"""
module: tarn_apply
short_description: Bring tarnd access points to the state of a fleet manifest
description:
  - Runs C(tarn plan MANIFEST --json) in check mode and
    C(tarn apply MANIFEST --json --yes) otherwise, on the host the task runs on,
    which must share a network segment with the access points.
  - Reports C(changed) only when the plan had changes (check mode) or a device
    was written. In diff mode each changed field is shown; secrets never are.
  - The administrator's password comes from I(password_file), or from
    C(TARN_PASSWORD) in the task's environment.
extends_documentation_fragment: [tarn.fleet.tarn]
options:
  manifest:
    description: The fleet manifest (YAML).
    type: path
    required: true
  timeout:
    description: Seconds to wait per try and for discovery (C(-t)).
    type: float
  password_file:
    description: A file whose first line is the administrator's password.
    type: path
    no_log: true
  write_only:
    description:
      - Also write the settings no device can report (SNMP, management VLAN),
        passing C(--write-only) to tarn.
      - They are written on every run, so the task is never idempotent: it
        reports C(changed) each time it writes them.
    type: bool
    default: false
"""

EXAMPLES = r"""
- name: The access points as the manifest says
  tarn.fleet.tarn_apply:
    manifest: /srv/fleet/fleet.yaml
    interfaces: [eth1]
  environment:
    TARN_PASSWORD: "{{ vault_tarn_password }}"
"""

RETURN = r"""
plan:
  description: The plan, as C(tarn plan --json) prints it.
  type: dict
  returned: when tarn ran
results:
  description: Per device, the changes written, whether they were verified, and an error.
  type: list
  returned: when not in check mode
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarn.fleet.plugins.module_utils.tarn import TarnError, run_json, tarn_argv

PLAN_NOTHING, PLAN_PENDING = 0, 4


def field_diff(plan):
    """One before/after pair of texts, one line per changed field."""
    before, after = [], []
    for device in plan.get("devices", []):
        for change in device.get("changes", []):
            head = f"{device['mac']} {change['field']}: "
            if change.get("secret"):
                before.append(head + "(secret)")
                after.append(head + "(changed)")
            else:
                before.append(head + str(change.get("from")))
                after.append(head + str(change.get("to")))
    return {"before": "\n".join(before) + "\n", "after": "\n".join(after) + "\n",
            "before_header": "devices", "after_header": "manifest"}


def main():
    module = AnsibleModule(
        argument_spec={
            "manifest": {"type": "path", "required": True},
            "tarn": {"type": "path", "default": "tarn"},
            "interfaces": {"type": "list", "elements": "str"},
            "timeout": {"type": "float"},
            "password_file": {"type": "path", "no_log": True},
            "write_only": {"type": "bool", "default": False},
        },
        supports_check_mode=True,
    )
    p = module.params
    argv = tarn_argv(p["tarn"], p["interfaces"], p["timeout"], p["password_file"])
    write_only = ["--write-only"] if p["write_only"] else []
    try:
        result = run(module, argv, write_only)
    except TarnError as e:
        module.fail_json(msg=str(e))
    if module._diff:
        result["diff"] = field_diff(result["plan"])
    module.exit_json(**result)


def run(module, argv, write_only):
    """plan in check mode, apply otherwise: the module's result."""
    p = module.params
    if module.check_mode:
        rc, plan, err = run_json(argv + ["plan", p["manifest"], "--json"] + write_only)
        if rc not in (PLAN_NOTHING, PLAN_PENDING) or plan is None:
            module.fail_json(msg=f"tarn plan failed (exit status {rc}): {err}", rc=rc)
        result = {"changed": rc == PLAN_PENDING, "plan": plan}
    else:
        rc, out, err = run_json(argv + ["apply", p["manifest"], "--json", "--yes"] + write_only)
        if out is None:
            module.fail_json(msg=f"tarn apply failed (exit status {rc}): {err}", rc=rc)
        plan, results = out.get("plan", {}), out.get("results", [])
        written = sum(r.get("changes", 0) for r in results)
        result = {"changed": written > 0, "plan": plan, "results": results}
        if rc != 0:
            failed = [f"{r['mac']}: {r.get('error') or 'not verified'}" for r in results
                      if r.get("error") or not r.get("verified", True)]
            module.fail_json(msg=f"tarn apply failed (exit status {rc}): "
                             + ("; ".join(failed) or err), rc=rc, **result)
    return result


if __name__ == "__main__":
    main()
