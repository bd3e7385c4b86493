#!/usr/bin/env python3
"""Prints the ratio table of a bench_corvane run from its Google Benchmark
JSON output (median of the repetitions, CPU time).

ratios.py BENCH_JSON
ratios.py --floor CALLGRIND_DIR BENCH_JSON [BEFORE_JSON]
    the vs_floor table: instructions per call from the callgrind runs of
    scripts/bench --floor (WHAT@SIZE.out, WHAT@SIZE.log), times and thread
    scaling from the benchmark's JSON; writes CALLGRIND_DIR/floor.json, which
    a later run takes as BEFORE_JSON for its "before" column."""
import glob
import json
import os
import re
import sys


def medians(path):
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"]).split("/repeats:")[0]
        unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
        out[name] = {"seconds": b["cpu_time"] * unit, "label": b.get("label", "")}
    return data.get("context", {}), out


def main(path):
    context, m = medians(path)
    t = lambda name: m[name]["seconds"]
    print("Run on %s CPUs at %s MHz, load average %s" % (
        context.get("num_cpus"), context.get("mhz_per_cpu"),
        ", ".join("%.2f" % x for x in context.get("load_avg", []))))
    print()
    print("| operation | ops/s | x bare xmlsec1 path | x RSA floor | target |")
    print("|---|---:|---:|---:|---|")
    rows = [
        ("corvane/verifySamlResponse_sha1", "bare/verify_sha1", "floor/rsa_verify_sha1", 1.45),
        ("corvane/verifySamlResponse_sha256", "bare/verify_sha256", "floor/rsa_verify_sha256", 1.45),
        ("corvane/createAuthnRequest", "bare/sign_request", "floor/rsa_sign_sha1", 1.08),
        ("corvane/verifyLoginResponse_sha1", "corvane/verifySamlResponse_sha1", "floor/rsa_verify_sha1", 0.70),
        ("corvane/createStandardAuthnRequest", "corvane/createAuthnRequest", "floor/rsa_sign_sha1", 0.60),
        ("bare/verify_sha1", None, "floor/rsa_verify_sha1", None),
        ("bare/verify_sha256", None, "floor/rsa_verify_sha256", None),
        ("bare/sign_request", None, "floor/rsa_sign_sha1", None),
        ("floor/rsa_verify_sha1", None, "floor/rsa_verify_sha1", None),
        ("floor/rsa_verify_sha256", None, "floor/rsa_verify_sha256", None),
        ("floor/rsa_sign_sha1", None, "floor/rsa_sign_sha1", None),
        ("part/parse_tinyxml", "part/parse_libxml2", "floor/rsa_verify_sha1", None),
        ("part/parse_libxml2", None, "floor/rsa_verify_sha1", None),
        ("part/load_cert_pem", "bare/verify_sha1", "floor/rsa_verify_sha1", None),
        ("part/load_private_key_pem", "bare/sign_request", "floor/rsa_sign_sha1", None),
    ]
    for name, bare, floor, target in rows:
        if name not in m:
            continue
        ratio_bare = "%.2f" % (t(name) / t(bare)) if bare and bare in m else ""
        ratio_floor = "%.2f" % (t(name) / t(floor)) if floor in m else ""
        verdict = ""
        if target is not None and bare in m:
            verdict = "<= %.2f %s" % (target, "met" if t(name) / t(bare) <= target else "NOT met")
        print("| %s | %.0f | %s | %s | %s |" % (name, 1.0 / t(name), ratio_bare, ratio_floor, verdict))
    print()
    print("(part/parse_tinyxml: 'x bare' is x libxml2's parse; part/load_*: share of the bare path;")
    print(" verifyLoginResponse: x verifySamlResponse; createStandardAuthnRequest: x createAuthnRequest)")
    print()
    print("| growth: response | bytes | corvane ns/byte | bare ns/byte | corvane x bare |")
    print("|---|---:|---:|---:|---:|")
    growth = sorted((n for n in m if n.startswith("growth/corvane/")),
                    key=lambda n: (not n.split("/")[-1].isdigit(), int(n.split("/")[-1]) if n.split("/")[-1].isdigit() else 0))
    for name in growth:
        key = name.split("/")[-1]
        bare = "growth/bare/" + key
        size = int(m[name]["label"].split()[0]) if m[name]["label"] else 0
        if not size or bare not in m:
            continue
        print("| %s | %d | %.1f | %.1f | %.2f |" % (
            key, size, t(name) * 1e9 / size, t(bare) * 1e9 / size, t(name) / t(bare)))


def callgrind_counts(directory):
    """{'login@6144': {'instructions': per call, 'bytes': n}} from the runs."""
    counts = {}
    for out in glob.glob(os.path.join(directory, "*@*.out")):
        key = os.path.basename(out)[:-4]
        with open(out) as f:
            total = next(int(line.split()[1]) for line in f if line.startswith("totals:"))
        with open(out[:-4] + ".log") as f:
            m = re.search(r"profiled \S+ x (\d+), (\d+) bytes", f.read())
        counts[key] = {"instructions": total / int(m.group(1)), "bytes": int(m.group(2))}
    return counts


def floor_times(path):
    """Median CPU seconds per call (one thread) and items/s at 1 and 2 threads."""
    with open(path) as f:
        data = json.load(f)
    times, rates = {}, {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median" or not b["name"].startswith("vs_floor/"):
            continue
        name = b.get("run_name", b["name"]).split("/repeats:")[0]
        parts = name.split("/")  # vs_floor, what, size[, real_time, threads:N]
        key = "%s@%s" % (parts[1], parts[2])
        threads = int(b.get("threads", 1))
        unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
        if threads == 1:
            times[key] = b["cpu_time"] * unit
        if "items_per_second" in b:
            rates.setdefault(key, {})[threads] = b["items_per_second"]
    return times, rates, data.get("context", {})


def per_byte(counts, what, low="131072", high="1048576"):
    """Instructions per further byte from the 128 KB to the 1 MB response."""
    a, b = counts.get("%s@%s" % (what, low)), counts.get("%s@%s" % (what, high))
    if not a or not b:
        return None
    return (b["instructions"] - a["instructions"]) / (b["bytes"] - a["bytes"])


def verdict(value, limit, at_most=True):
    if value is None:
        return ""
    met = value <= limit if at_most else value >= limit
    return "%s %.2f %s" % ("<=" if at_most else ">=", limit, "met" if met else "NOT met")


def floor_table(directory, bench_json, before_json=None):
    counts = callgrind_counts(directory)
    times, rates, context = floor_times(bench_json)
    before = {}
    if before_json:
        with open(before_json) as f:
            before = json.load(f)["counts"]
    with open(os.path.join(directory, "floor.json"), "w") as f:
        json.dump({"counts": counts, "times": times, "rates": rates}, f, indent=1, sort_keys=True)
    print("Run on %s CPUs at %s MHz, load average %s" % (
        context.get("num_cpus"), context.get("mhz_per_cpu"),
        ", ".join("%.2f" % x for x in context.get("load_avg", []))))
    print()
    print("Instructions per call (callgrind), and x floor:")
    print()
    print("| response | bytes | floor | bare | before | after | bare x floor | before x floor "
          "| after x floor |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    sizes = sorted({int(k.split("@")[1]) for k in counts})
    ins = lambda table, what, size: table.get("%s@%d" % (what, size), {}).get("instructions")
    fmt = lambda v: "%.0f" % v if v is not None else ""
    ratio = lambda a, b: "%.2f" % (a / b) if a is not None and b else ""
    for size in sizes:
        floor, bare = ins(counts, "floor", size), ins(counts, "bare", size)
        old, new = ins(before, "login", size), ins(counts, "login", size)
        nbytes = counts.get("floor@%d" % size, {}).get("bytes", 0)
        print("| %s | %d | %s | %s | %s | %s | %s | %s | %s |" % (
            "realistic" if size == 6144 else "%d KB" % (size // 1024), nbytes, fmt(floor),
            fmt(bare), fmt(old), fmt(new), ratio(bare, floor), ratio(old, floor),
            ratio(new, floor)))
    slopes = {w: per_byte(counts, w) for w in ("floor", "bare", "login")}
    old_slope = per_byte(before, "login") if before else None
    pb = lambda v: "%.1f" % v if v is not None else ""
    print("| per byte, 128 KB to 1 MB | | %s | %s | %s | %s | %s | %s | %s |" % (
        pb(slopes["floor"]), pb(slopes["bare"]), pb(old_slope), pb(slopes["login"]),
        ratio(slopes["bare"], slopes["floor"]), ratio(old_slope, slopes["floor"]),
        ratio(slopes["login"], slopes["floor"])))
    print()
    print("CPU time per call (Google Benchmark, median), one thread:")
    print()
    print("| response | floor | bare | login | login x floor | login x bare |")
    print("|---|---:|---:|---:|---:|---:|")
    for size in sizes:
        t = [times.get("%s@%d" % (w, size)) for w in ("floor", "bare", "login")]
        if None in t:
            continue
        print("| %s | %.1f µs | %.1f µs | %.1f µs | %.2f | %.2f |" % (
            "realistic" if size == 6144 else "%d KB" % (size // 1024), t[0] * 1e6, t[1] * 1e6,
            t[2] * 1e6, t[2] / t[0], t[2] / t[1]))
    print()
    print("Two threads against one (calls per second of wall time, realistic response):")
    print()
    print("| row | 1 thread | 2 threads | 2 x 1 |")
    print("|---|---:|---:|---:|")
    for what in ("floor", "bare", "login"):
        r = rates.get("%s@6144" % what, {})
        if 1 in r and 2 in r:
            print("| %s | %.0f/s | %.0f/s | %.2f |" % (what, r[1], r[2], r[2] / r[1]))
    print()
    login6, floor6 = ins(counts, "login", 6144), ins(counts, "floor", 6144)
    r = rates.get("login@6144", {})
    print("Goals: login x floor at 6 KB %s (%s); per byte at 1 MB %s (%s); 2 threads %s (%s)" % (
        ratio(login6, floor6), verdict(login6 / floor6 if login6 and floor6 else None, 1.8),
        ratio(slopes["login"], slopes["floor"]),
        verdict(slopes["login"] / slopes["floor"] if slopes["login"] and slopes["floor"] else None,
                2.2),
        ratio(r.get(2), r.get(1)),
        verdict(r[2] / r[1] if 1 in r and 2 in r else None, 1.85, at_most=False)))


if __name__ == "__main__":
    if sys.argv[1] == "--floor":
        floor_table(*sys.argv[2:5])
    else:
        main(sys.argv[1])
