#!/usr/bin/env python3
"""Download soak: whole sequences (download, verify, publisher check, package
run) of ov_orchestrate against the fault server, each with a fault scenario
drawn from SCENARIOS (single faults and pairs) and a download type
(1 single stream, 2 the system's URL service, 3 two ranges).

  soak.py <sequences> <runtime build dir> <fault port> <csv> [--seed N] [--jobs J]

Each sequence i uses random.Random(seed * 1000003 + i), so a CSV that
already holds rows resumes with the sequences it lacks. J sequences run at
once (default 1): most of a faulted sequence is waiting on the server, so
parallel runs cover more of them per hour without changing what each one
draws. Outcomes:
  installed  exit 0, one final report, and the copy the package made of
             itself (uninst.ep) has the served package's MD5: the right
             bytes ran
  failed     exit 1 with exactly one final report and nothing left behind
  corrupt    a success whose copy differs from the package (wrong bytes ran)
  hung       still running after the bound
  leftovers  a package file, a part file or another stray file stayed, or
             more than one final report
Prints the tally per scenario and type at the end.
"""
import concurrent.futures
import csv
import hashlib
import json
import os
import random
import subprocess
import sys
import time
import urllib.request

FINAL = {"2003", "2004", "1004", "5004", "5005"}  # success, package failed, download failed, uninstaller
BOUND_SECONDS = 420

# One fault step of the server (tools/faultserver); {} serves normally.
FAULTS = {
    "normal": {},
    "cut-early": {"cut": 1000},
    "cut-late": {"cut": 200000},
    "stall": {"stall": 50000},
    "short-length": {"length": 1000},
    "long-length": {"length": 99999999},
    "no-length": {"no_length": True},
    "ignored-range": {"ignore_range": True},
    "redirect-loop": {"redirect": "self"},
    "reset": {"close": True},
    "garbage": {"garbage": True},
    "status-404": {"status": 404},
    "status-500": {"status": 500},
    "status-503": {"status": 503},
    "status-416": {"status": 416},
    "html": {"html": 5000},
    "html-as-bytes": {"html": 300000, "type": "application/octet-stream"},
    "swapped": {"corrupt": 4096},
    "swapped-tail": {"corrupt": -1},
    "gzip": {"gzip": True},
    "silent": {"silent": True},
}
# Slow ones (they wait for the stall and first-answer bounds) are drawn less.
WEIGHTS = {"stall": 0.25, "silent": 0.25}


def scenarios():
    names = list(FAULTS)
    table = [(n,) for n in names]
    table += [(a, b) for a in names for b in names if a != b and a != "normal"]
    return table


def step(name, size):
    s = dict(FAULTS[name])
    if s.get("corrupt") == -1:
        s["corrupt"] = size - 1
    return s


def weight(combo):
    w = 1.0
    for n in combo:
        w *= WEIGHTS.get(n, 1.0)
    return w


def post_scenario(port, body):
    req = urllib.request.Request("http://127.0.0.1:%d/_scenario" % port, data=json.dumps(body).encode(), method="POST")
    with urllib.request.urlopen(req, timeout=10) as r:
        return json.load(r)["md5"]


def files_under(folder):
    out = []
    for root, _, files in os.walk(folder):
        out += [os.path.join(root, f) for f in files]
    return out


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def run_one(i, rng, build, port, package, prefix):
    table = scenarios()
    combo = rng.choices(table, weights=[weight(c) for c in table])[0]
    dltype = rng.choice([1, 2, 3])
    size = os.path.getsize(package)
    where = rng.choice(["head", "get", "both"])
    steps = [step(n, size) for n in combo]
    if len(steps) == 1 and combo[0] != "normal":
        steps.append(step(combo[0], size))  # one fault, every time
    name = "soak%d" % i
    body = {"name": name, "file": package}
    if where in ("get", "both"):
        body["get"] = steps
    if where in ("head", "both"):
        body["head"] = steps
    md5 = post_scenario(port, body)
    url = "http://127.0.0.1:%d/s/%s/%s/OndraVelqor_setup.exe" % (port, name, md5)
    folder_win = "C:\\soak\\%d" % i
    folder = os.path.join(prefix, "drive_c", "soak", str(i))
    start = time.time()
    proc = subprocess.Popen(["wine", os.path.join(build, "tools/orchestrate/ov_orchestrate.exe"), "--url", url,
                             "--folder", folder_win, "--type", str(dltype)],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        out, _ = proc.communicate(timeout=BOUND_SECONDS)
        rc = proc.returncode
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        return "+".join(combo), where, dltype, "hung", time.time() - start, ""
    seconds = time.time() - start
    lines = out.decode("utf-8", "replace").splitlines()
    finals = [l for l in lines if l.split(" ", 1)[0] in FINAL]
    left = files_under(folder) if os.path.isdir(folder) else []
    copy = [f for f in left if f.endswith("uninst.ep")]
    stray = [f for f in left if os.path.basename(f) not in ("OndraVelqor.exe", "uninst.ep", "set.ini")]
    detail = ""
    if rc == 0:
        if not copy or md5_of(copy[0]) != md5:
            outcome, detail = "corrupt", "installed copy differs from the package"
        elif len(finals) != 1 or stray:
            outcome, detail = "leftovers", "finals=%d stray=%s" % (len(finals), stray)
        else:
            outcome = "installed"
    else:
        if copy and md5_of(copy[0]) != md5:
            outcome, detail = "corrupt", "wrong bytes ran"
        elif len(finals) != 1 or stray or copy:
            outcome, detail = "leftovers", "rc=%d finals=%d left=%s" % (rc, len(finals), left)
        else:
            outcome = "failed"
    return "+".join(combo), where, dltype, outcome, seconds, detail


def main():
    n, build, port, csv_path = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
    seed = int(sys.argv[sys.argv.index("--seed") + 1]) if "--seed" in sys.argv else 1
    jobs = int(sys.argv[sys.argv.index("--jobs") + 1]) if "--jobs" in sys.argv else 1
    prefix = os.environ["WINEPREFIX"]
    package = os.path.join(build, "tools/substitute/ov_substitute.exe")
    done = set()
    if os.path.exists(csv_path):
        with open(csv_path) as f:
            done = {int(r["sequence"]) for r in csv.DictReader(f)}
    new = not os.path.exists(csv_path) or os.path.getsize(csv_path) == 0

    def sequence(i):
        row = run_one(i, random.Random(seed * 1000003 + i), build, port, package, prefix)
        subprocess.run(["rm", "-rf", os.path.join(prefix, "drive_c", "soak", str(i))])
        return i, row

    with open(csv_path, "a", newline="") as f:
        w = csv.writer(f)
        if new:
            w.writerow(["sequence", "scenario", "faulted", "type", "outcome", "seconds", "detail"])
        todo = [i for i in range(1, n + 1) if i not in done]
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            # Rows are written as sequences end, so an interrupted soak keeps each finished one.
            for future in concurrent.futures.as_completed([pool.submit(sequence, i) for i in todo]):
                i, row = future.result()
                w.writerow([i] + [row[0], row[1], row[2], row[3], "%.1f" % row[4], row[5]])
                f.flush()
                if row[3] not in ("installed", "failed"):
                    print("sequence %d: %s %s type %d: %s %s" % (i, row[0], row[1], row[2], row[3], row[5]), flush=True)
    tally = {}
    with open(csv_path) as f:
        for r in csv.DictReader(f):
            key = (r["scenario"], r["type"])
            tally.setdefault(key, {}).setdefault(r["outcome"], 0)
            tally[key][r["outcome"]] += 1
    outcomes = ["installed", "failed", "corrupt", "hung", "leftovers"]
    totals = {o: sum(t.get(o, 0) for t in tally.values()) for o in outcomes}
    print("sequences=%d " % sum(totals.values()) + " ".join("%s=%d" % (o, totals[o]) for o in outcomes))
    by_type = {}
    for (scenario, dltype), t in tally.items():
        for o, c in t.items():
            by_type.setdefault(dltype, {}).setdefault(o, 0)
            by_type[dltype][o] += c
    for dltype in sorted(by_type):
        print("type %s: " % dltype + " ".join("%s=%d" % (o, by_type[dltype].get(o, 0)) for o in outcomes))
    return 0 if totals["corrupt"] == totals["hung"] == totals["leftovers"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
