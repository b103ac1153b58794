#!/usr/bin/env python3
"""Checks that the plug-in file exports its entry point and nothing else.

Among the dynamic symbols, exactly one may be defined with GLOBAL or WEAK binding and type FUNC
or OBJECT: GetInterfaceFactory, a function. readelf reads the cross-built file as well.

Usage: check_exports.py --readelf readelf --plugin libqarn.so
"""
import argparse
import subprocess
import sys


def exported(readelf, plugin):
    listing = subprocess.run([readelf, "--dyn-syms", "-W", plugin], check=True,
                             capture_output=True, text=True).stdout
    symbols = []
    for line in listing.splitlines():
        # Num: Value Size Type Bind Vis Ndx Name
        fields = line.split()
        if len(fields) < 8 or not fields[0].endswith(":") or not fields[0][:-1].isdigit():
            continue
        kind, binding, section, name = fields[3], fields[4], fields[6], fields[7]
        if section != "UND" and kind in ("FUNC", "OBJECT") and binding in ("GLOBAL", "WEAK"):
            symbols.append((name.split("@")[0], kind))
    return symbols


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--readelf", required=True)
    parser.add_argument("--plugin", required=True)
    args = parser.parse_args()
    symbols = exported(args.readelf, args.plugin)
    if symbols != [("GetInterfaceFactory", "FUNC")]:
        print(f"{args.plugin}: expected only GetInterfaceFactory (FUNC) to be exported, found:",
              file=sys.stderr)
        for name, kind in symbols:
            print(f"  {kind} {name}", file=sys.stderr)
        return 1
    print(f"{args.plugin}: exports GetInterfaceFactory only")
    return 0


if __name__ == "__main__":
    sys.exit(main())
