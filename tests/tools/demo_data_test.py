#!/usr/bin/env python3
"""tools/demo-data writes IDX as the equal-weight index of its members,
rebalanced daily: over the whole span the index grows as the product of
(1 + the mean of the members' simple returns), worked out here from the price
files themselves.  An index of the mean log return trails it by far (about
half the members' return variance each day).

usage: demo_data_test.py TOOLS_DEMO_DATA
"""
import csv
import os
import subprocess
import sys
import tempfile


def closes(path):
    """date -> (close, split) of one price file."""
    out = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            out[row["Date"]] = (float(row["Close"]), float(row["Split"]) if row["Split"] else 1.0)
    return out


def main():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.executable, sys.argv[1], "--symbols", "40", "--years", "4", "--first-year", "2020", folder],
                       check=True, stdout=subprocess.DEVNULL)
        index = closes(os.path.join(folder, "IDX.csv"))
        members = [closes(os.path.join(folder, name)) for name in sorted(os.listdir(folder))
                   if name.endswith(".csv") and name != "IDX.csv"]
        days = sorted(index)
        growth = 1.0
        for before, day in zip(days, days[1:]):
            returns = [m[day][0] * m[day][1] / m[before][0] - 1.0 for m in members if before in m and day in m]
            if returns:
                growth *= 1.0 + sum(returns) / len(returns)
        grown = index[days[-1]][0] / index[days[0]][0]
        # The files round prices to cents, so the two agree to a fraction of
        # a percent; the mean log return falls short by more than a tenth.
        ok = abs(grown / growth - 1.0) < 0.01
        print("IDX grew %.4f, its members' equal-weight growth %.4f: %s" % (grown, growth, "ok" if ok else "FAILED"))
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
