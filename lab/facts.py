"""The lab's addresses, ports and groups, from facts.env next to this file.

    import facts            # with lab/ on sys.path
    facts.HOST_ADDR         # "10.0.1.2"
"""
import pathlib


def load(path=pathlib.Path(__file__).with_name("facts.env")):
    """KEY=VALUE lines of PATH as a dict; blank lines and # comments are skipped."""
    values = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        key, sep, value = line.partition("=")
        if not sep:
            raise ValueError(f"{path}: not KEY=VALUE: {line}")
        values[key] = value
    return values


globals().update(load())
