#!/usr/bin/env python3
"""Prints the summary of the benchmark programs' JSON outputs.

Each program declares in its JSON context ("video_render.ratio.NN" and
"video_render.figure.NN", see bench_support.h) what to report: ratios of the median real time
per iteration of a candidate over that of its anchor, measured in the same run, with their
goals, and figures (times, rates, or a counter a benchmark set), some with goals of their own.
Exits 0 whether goals are met or not; 1 when an output is missing
or unreadable, a benchmark reported an error, or a declared benchmark did not run.
"""

import json
import re
import sys

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
# Suffixes Google Benchmark adds to a name: they are left out when matching declarations.
ADDED_SUFFIX = re.compile(r"^(iterations:\d+|repeats:\d+|real_time|manual_time|min_time:.*)$")


def base_name(run_name):
    return "/".join(p for p in run_name.split("/") if not ADDED_SUFFIX.match(p))


def load(path):
    """Median real time per iteration (ns), coefficient of variation and median counters of each
    benchmark, the declarations, the errors."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    times, spread, samples, counters, errors = {}, {}, {}, {}, []
    for b in data.get("benchmarks", []):
        name = base_name(b.get("run_name", b["name"]))
        if b.get("error_occurred"):
            error = f"{name}: {b.get('error_message', 'error')}"
            if error not in errors:
                errors.append(error)
            continue
        ns = b["real_time"] * TO_NS[b.get("time_unit", "ns")]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                times[name] = ns
                counters[name] = b
            elif b.get("aggregate_name") == "cv":
                spread[name] = b["real_time"]
        else:
            samples.setdefault(name, []).append((ns, b))
    for name, values in samples.items():
        if name not in times:  # a single repetition
            values.sort(key=lambda sample: sample[0])
            times[name], counters[name] = values[len(values) // 2]
    context = data.get("context", {})
    declared = [
        (key.split(".")[1], json.loads(value))
        for key, value in sorted(context.items())
        if key.startswith("video_render.")
    ]
    return times, spread, counters, declared, errors


def meets(ratio, goal):
    if not goal:
        return None
    bound = float(goal[2:])
    return ratio <= bound if goal.startswith("<=") else ratio >= bound


def result_of(ok):
    return "info" if ok is None else ("pass" if ok else "MISSED")


def show_time(ns):
    return f"{ns / 1e6:9.3f} ms"


def main(paths):
    rows, figures, problems = [], [], []
    for path in paths:
        try:
            times, spread, counters, declared, errors = load(path)
        except (OSError, ValueError, KeyError) as error:
            problems.append(f"{path}: unreadable ({error})")
            continue
        problems += [f"{path}: {e}" for e in errors]
        for kind, d in declared:
            if kind == "ratio":
                candidate, anchor = times.get(d["candidate"]), times.get(d["anchor"])
                if candidate is None or anchor is None:
                    problems.append(f"{path}: {d['candidate']} or {d['anchor']} did not run")
                    continue
                ratio = candidate / anchor
                noise = max(spread.get(d["candidate"], 0.0), spread.get(d["anchor"], 0.0))
                rows.append((d["what"], candidate, anchor, ratio, noise, d["goal"],
                             meets(ratio, d["goal"])))
            elif kind == "figure":
                value = times.get(d["benchmark"])
                if value is None:
                    problems.append(f"{path}: {d['benchmark']} did not run")
                    continue
                goal, ok = d.get("goal", ""), None
                if d["unit"] == "per_second":
                    shown = f"{1e9 / value:9.1f} /s"
                elif d["unit"] == "giga_per_second":
                    ok = meets(d["items"] / value, goal)
                    shown = f"{d['items'] / value:9.2f} {d['label']}"
                elif d["unit"] == "counter":
                    count = counters[d["benchmark"]].get(d["counter"])
                    if count is None:
                        problems.append(f"{path}: {d['benchmark']} did not count {d['counter']}")
                        continue
                    shown = f"{count * d['scale']:9.2f} {d['label']}"
                else:
                    shown = show_time(value)
                figures.append((d["what"], shown, goal, ok))

    width = max([len(r[0]) for r in rows] + [len(f[0]) for f in figures] + [10])
    print()
    print("Ratios: median real time per iteration, candidate / anchor, measured in the same run")
    print("(cv: the larger coefficient of variation of the two over their repetitions)")
    print(f"{'':{width}}  {'candidate':>12}  {'anchor':>12}  {'ratio':>7}  {'cv':>4}"
          f"  {'goal':>7}  result")
    for what, candidate, anchor, ratio, noise, goal, ok in rows:
        print(f"{what:{width}}  {show_time(candidate)}  {show_time(anchor)}  {ratio:6.2f}x"
              f"  {noise:3.0%}  {goal or '-':>7}  {result_of(ok)}")
    if figures:
        print()
        print("Figures (median)")
        for what, shown, goal, ok in figures:
            print(f"{what:{width}}  {shown}" + (f"  {goal:>7}  {result_of(ok)}" if goal else ""))
    print()
    outcomes = [r[6] for r in rows] + [f[3] for f in figures]
    print(f"{outcomes.count(True)} goals met, {outcomes.count(False)} missed")
    for problem in problems:
        print(f"[bench] {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
