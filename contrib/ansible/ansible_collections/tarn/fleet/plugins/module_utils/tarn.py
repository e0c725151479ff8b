# What the module and the inventory plugin share: how tarn is run.
import json
import subprocess


def tarn_argv(tarn, interfaces=None, timeout=None, password_file=None):
    """tarn and its global options."""
    argv = [tarn or "tarn"]
    for iface in interfaces or []:
        argv += ["-i", iface]
    if timeout is not None:
        argv += ["-t", str(timeout)]
    if password_file:
        argv += ["--password-file", password_file]
    return argv


class TarnError(Exception):
    """tarn could not be run at all; the message is a sentence for the user."""


def run_json(argv, timeout=600):
    """Runs tarn; returns (exit status, parsed standard output or None, standard error)."""
    try:
        proc = subprocess.run(argv, capture_output=True, text=True, timeout=timeout,
                              stdin=subprocess.DEVNULL, check=False)
    except FileNotFoundError:
        raise TarnError(f"the program {argv[0]} is not installed on this host "
                        "(install the tarn package or set the tarn option).") from None
    except subprocess.TimeoutExpired:
        raise TarnError(f"{argv[0]} did not finish "
                        f"within {timeout} seconds.") from None
    try:
        out = json.loads(proc.stdout) if proc.stdout.strip() else None
    except ValueError:
        out = None
    return proc.returncode, out, proc.stderr.strip()
