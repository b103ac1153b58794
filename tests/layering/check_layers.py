#!/usr/bin/env python3
"""Fails when an #include crosses a layer upward (or sideways into a part it may not know).

Every source file belongs to a layer by its folder. A file may include headers of its own layer
and of the layers listed below it, nothing else. Test, benchmark and fuzz folders may include
any library, their own folder and the shared test support, but not another test folder.

Usage: check_layers.py SOURCE_ROOT
"""

import os
import re
import sys

# Layer by path prefix; the longest matching prefix wins.
LAYERS = {
    "host/": "host",
    "plugin/HostServices.cpp": "services",
    "plugin/include/qarn/plugin/HostServices.h": "services",
    "plugin/include/qarn/plugin/Xml_QARN.h": "services",
    "protlib/": "protlib",
    "driver/": "driver",
    "plugin/": "entry",
    "rtu/": "rtu",
    "refhost/": "refhost",
    "sim/": "sim",
    "apps/qarn/toolkit/": "toolkit",
    "apps/qarn/scan/": "scan",
    "apps/qarn/commission/": "commission",
    "apps/qarn/output/": "output",
    "apps/qarn/web/": "web",
    "apps/qarn/mqtt/": "mqtt",
    "apps/qarn/gateway/": "gateway",
    "apps/qarn/demo/": "demo",
    "apps/qarn/": "cli",
}

# What each layer may include directly, besides itself. The plug-in's stack and the host side
# share only the host's interfaces: the tools load the plug-in, they never link its insides.
BELOW = {
    "host": set(),
    "services": {"host"},
    "protlib": {"host", "services"},
    "driver": {"host", "services", "protlib"},
    "entry": {"host", "services", "protlib", "driver"},
    "rtu": set(),
    "refhost": {"host", "rtu"},
    "sim": {"rtu"},
    "toolkit": {"host", "rtu", "refhost"},
    "scan": {"host", "rtu", "refhost", "toolkit"},
    "commission": {"host", "rtu", "refhost", "toolkit", "scan"},
    "output": {"host", "rtu", "refhost", "toolkit", "scan", "commission"},
    "web": {"host", "rtu", "refhost", "toolkit", "scan", "commission", "output"},
    "mqtt": {"host", "rtu", "refhost", "toolkit", "scan", "output"},
    "gateway": {"host", "rtu", "refhost", "toolkit", "scan", "commission", "output", "web", "mqtt"},
    "demo": {"host", "rtu", "refhost", "sim", "toolkit"},
    "cli": {"host", "rtu", "refhost", "sim", "toolkit", "scan", "commission", "output", "web",
            "mqtt", "gateway", "demo"},
}

TEST_ROOTS = ("tests/", "bench/", "fuzz/")
SUPPORT = "tests/support/"
SOURCE_ENDINGS = (".h", ".hpp", ".cpp", ".cc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def layer_of(path):
    best = None
    for prefix, layer in LAYERS.items():
        if path.startswith(prefix) and (best is None or len(prefix) > len(best[0])):
            best = (prefix, layer)
    return best[1] if best else None


def public_headers(root):
    """Maps "qarn/LIB/Name.h" to the header's path below root."""
    found = {}
    for folder, _, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel.startswith(("build", ".git")):
            continue
        marker = os.sep + "include" + os.sep + "qarn" + os.sep
        if marker not in os.sep + rel + os.sep:
            continue
        for name in files:
            path = os.path.normpath(os.path.join(rel, name))
            found[path[path.index("include" + os.sep) + len("include" + os.sep):]] = path
    return found


def sources(root):
    for top in ["host", "plugin", "protlib", "driver", "rtu", "refhost", "sim", "apps", "tests",
                "bench", "fuzz"]:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if name.endswith(SOURCE_ENDINGS):
                    yield os.path.relpath(os.path.join(folder, name), root)


def check(root):
    headers = public_headers(root)
    problems = []
    for path in sorted(sources(root)):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        own_dir = os.path.dirname(path)
        for quote, name in INCLUDE.findall(text):
            if quote == "<":
                target = headers.get(name)
                if target is None:
                    if name.startswith("qarn/"):
                        problems.append(f"{path}: <{name}> is no public header")
                    continue  # a system or third-party header
            else:
                target = os.path.normpath(os.path.join(own_dir, name))
                if not os.path.exists(os.path.join(root, target)):
                    support = os.path.join(SUPPORT, name)
                    if path.startswith(TEST_ROOTS) and os.path.exists(os.path.join(root, support)):
                        target = support
                    else:
                        problems.append(f'{path}: "{name}" is not beside it; '
                                        "include a public header as <qarn/...>")
                        continue
            problem = judge(path, target)
            if problem:
                problems.append(f"{path}: includes {target}: {problem}")
    return problems


def judge(path, target):
    if path.startswith(TEST_ROOTS):
        if not target.startswith(TEST_ROOTS):
            return None
        own = path.split("/")[:2] if path.startswith("tests/") else path.split("/")[:1]
        if target.startswith(SUPPORT) or target.split("/")[:len(own)] == own:
            return None
        return "a test folder includes another test folder"
    if target.startswith(TEST_ROOTS):
        return "product code includes test code"
    mine, theirs = layer_of(path), layer_of(target)
    if mine is None or theirs is None:
        return "file outside every layer"
    if mine == theirs or theirs in BELOW[mine]:
        return None
    return f"layer '{mine}' may not include layer '{theirs}'"


def self_test():
    """The checker itself: a tiny tree with one edge of each kind."""
    import tempfile
    files = {
        "host/include/qarn/host/IThing.h": "",
        "driver/include/qarn/driver/Thing.h": "#include <qarn/host/IThing.h>\n",
        "driver/Thing.cpp": '#include <qarn/driver/Thing.h>\n#include "Private.h"\n',
        "driver/Private.h": "",
        "plugin/include/qarn/plugin/HostServices.h": "#include <qarn/driver/Thing.h>\n",
        "refhost/Port.cpp": "#include <qarn/driver/Thing.h>\n#include <vector>\n",
        "tests/support/Double.h": "",
        "tests/a/ATest.cpp": '#include "Double.h"\n#include "../b/Helper.h"\n',
        "tests/b/Helper.h": "",
    }
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        found = sorted(p.split(":")[0] for p in check(root))
    expected = ["plugin/include/qarn/plugin/HostServices.h", "refhost/Port.cpp",
                "tests/a/ATest.cpp"]
    if found != expected:
        print(f"self-test: expected problems in {expected}, found {found}")
        return 1
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) cross a layer the wrong way")
        return 1
    print("every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
