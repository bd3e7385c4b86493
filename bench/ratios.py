#!/usr/bin/env python3
"""Prints the ratio table of a bench_corvane run from its Google Benchmark
JSON output (median of the repetitions, CPU time)."""
import json
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


if __name__ == "__main__":
    main(sys.argv[1])
