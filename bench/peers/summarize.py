#!/usr/bin/python3
"""The table of bench/run.sh --peers: program against its peers, cold and warm.

    summarize.py RUNS.tsv FLOORS.tsv

RUNS.tsv: one line per run, "case mode contender round wall_s cpu_s rss_kib
status" (tab-separated; mode cold or warm; contender program, program-t1,
textbook or numpy). FLOORS.tsv: "case nodes steps floor_s forced_warm_s
forced_cold_s" ("-" where the kernels were not run).

For every case and mode, the median over the rounds of wall and CPU time
(user + system) and the largest peak RSS of each contender, the CPU range
over the rounds, and the ratios: each contender's median over the textbook
C peer's and the NumPy peer's (below 1: faster than the peer), and its CPU
over the floor and over what identical results force (cold runs against the
cold forced floor, warm against the warm).
"""
import statistics
import sys

NAMES = {
    "program": "skinburn",
    "program-t1": "skinburn --threads 1",
    "textbook": "textbook C (-O2)",
    "numpy": "NumPy/SciPy",
}


def ratio(a, b):
    return f"{a / b:.2f}" if a is not None and b else "-"


def main(argv):
    runs = {}
    failed = []
    with open(argv[1], encoding="utf-8") as f:
        for line in f:
            case, mode, who, _round, wall, cpu, rss, status = line.split()
            if status != "0":
                failed.append(f"{case} {mode} {who}: status {status}")
                continue
            runs.setdefault((case, mode, who), []).append((float(wall), float(cpu), int(rss)))
    floors = {}
    with open(argv[2], encoding="utf-8") as f:
        for line in f:
            case, nodes, steps, floor, warm, cold = line.split()
            value = lambda text: None if text == "-" else float(text)  # noqa: E731
            floors[case] = (int(nodes), int(steps), value(floor), {"warm": value(warm), "cold": value(cold)})

    for case, (nodes, steps, floor, forced) in floors.items():
        floor_text = "-" if floor is None else f"{floor:.3f} s"
        forced_text = "-" if forced["warm"] is None else f"{forced['warm']:.3f} s warm, {forced['cold']:.3f} s cold"
        print(f"-- {case}: {nodes} nodes x {steps} steps; floor {floor_text}, forced {forced_text}")
        print(f"   {'mode':4s} {'contender':22s} {'wall s':>7s} {'CPU s':>7s} {'CPU range':>13s} {'RSS MiB':>8s}"
              f" {'CPU/C':>6s} {'wall/C':>6s} {'CPU/NumPy':>9s} {'wall/NumPy':>10s} {'CPU/floor':>9s} {'CPU/forced':>10s}")
        for mode in ("cold", "warm"):
            medians = {}
            for who in NAMES:
                samples = runs.get((case, mode, who))
                if samples:
                    medians[who] = (statistics.median(s[0] for s in samples),
                                    statistics.median(s[1] for s in samples),
                                    min(s[1] for s in samples), max(s[1] for s in samples),
                                    max(s[2] for s in samples), len(samples))
            c = medians.get("textbook")
            n = medians.get("numpy")
            for who, (wall, cpu, low, high, rss, count) in medians.items():
                print(f"   {mode:4s} {NAMES[who]:22s} {wall:7.3f} {cpu:7.3f} {f'{low:.3f}-{high:.3f}':>13s}"
                      f" {rss / 1024:8.1f} {ratio(cpu, c and c[1]):>6s} {ratio(wall, c and c[0]):>6s}"
                      f" {ratio(cpu, n and n[1]):>9s} {ratio(wall, n and n[0]):>10s}"
                      f" {ratio(cpu, floor):>9s} {ratio(cpu, forced[mode]):>10s}")
    if failed:
        print("runs that failed (left out above):")
        for line in failed:
            print("   " + line)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
