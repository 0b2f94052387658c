#!/usr/bin/env python3
"""quorvel-host's check and learn against a plain read of the same big mbox,
under Wine, in one run; appends the figures to the benchmark page.

Usage: read_bench.py HOST_EXE PLUGIN_DLL FLOOR_EXE WORK_FOLDER OUT_MD [MIB [ROWS]]

The mbox (bench/make_mbox.py) is made in WORK_FOLDER and removed after, with
two stores of good mail that learn's proposal costs grow with: one naming
thousands of addresses, for learn --spam over the big mbox, and one naming tens
of thousands at thousands of domains, for learn --domains. ROWS, comma-separated
names from the tables (floor,check,learn,spam,plain,domains), runs only those.
Run with WINEPREFIX set; `make bench` does.
"""
import os
import shutil
import statistics
import subprocess
import sys

ROUNDS = 5
# learn --spam weighs every spam mail against this many proposed entries, and
# --domains folds this many addresses at so many domains.
SPAM_ENTRIES = 5000
FOLD_ADDRESSES = 30000
FOLD_DOMAINS = 10000


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs" % (model, os.cpu_count())


def load():
    with open("/proc/loadavg") as average:
        return average.read().split()[0]


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], check=True, capture_output=True,
                          text=True).stdout.strip()


def write_good_mail(path, count, domains):
    """count mails, each to an address of its own at one of the domains."""
    with open(path, "w", newline="\n") as mbox:
        for i in range(count):
            mbox.write("From x Mon Jan  1 10:00:00 2024\nTo: user%d@host%d.example.net\n\n"
                       % (i, i % domains))


def main():
    host, plugin, floor, work, out = sys.argv[1:6]
    work = os.path.abspath(work)
    mib = int(sys.argv[6]) if len(sys.argv) > 6 else 1024
    only = sys.argv[7].split(",") if len(sys.argv) > 7 else None
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for program in (host, plugin, floor):
        shutil.copy(program, work)
    # A short list: the check's cost hardly depends on it (see above).
    with open(os.path.join(work, "quorvel.txt"), "wb") as listed:
        listed.write(b"ann.lee@example.com\r\nbob.marsh95@example.com\r\n@lee-family.example.net\r\n")
    mbox = os.path.join(work, "big.mbox")
    mails, size = map(int, subprocess.run(
        [sys.executable, os.path.join(os.path.dirname(__file__), "make_mbox.py"), mbox, str(mib)],
        check=True, capture_output=True, text=True).stdout.split())
    write_good_mail(os.path.join(work, "entries.mbox"), SPAM_ENTRIES, 97)
    write_good_mail(os.path.join(work, "domains.mbox"), FOLD_ADDRESSES, FOLD_DOMAINS)
    try:
        # Wine's server and services start with the first Wine program and keep
        # its output open: started here on nothing, they hold no pipe that a run
        # below reads to its end.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p", "60"], check=False, **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], check=False, **quiet)
        box = windows_path(mbox)
        commands = {
            "floor": "quorvel_read_floor.exe read " + box,
            "check": "quorvel-host.exe check " + box,
            "learn": "quorvel-host.exe learn " + box,
            "spam": "quorvel-host.exe learn --spam %s entries.mbox" % box,
            # The proposal's own cost, on a store that takes little reading.
            "plain": "quorvel-host.exe learn domains.mbox",
            "domains": "quorvel-host.exe learn --domains domains.mbox",
        }
        if only:
            commands = {name: command for name, command in commands.items() if name in only}
        loads = [load()]
        runs = {name: [] for name in commands}
        for _ in range(ROUNDS):
            for name, command in commands.items():
                result = subprocess.run(
                    ["wine", os.path.join(work, "quorvel_read_floor.exe"), "time",
                     windows_path(os.path.join(work, name + ".out")), command],
                    cwd=work, check=True, capture_output=True, text=True)
                seconds, peak = map(float, result.stdout.split())
                runs[name].append((seconds, peak))
                print(name, seconds, peak, file=sys.stderr)
        loads.append(load())
        if "check" in commands:
            with open(os.path.join(work, "check.out"), "rb") as verdicts:
                summary = verdicts.read().splitlines()[-1].decode()
            if not summary.startswith("%d mails:" % mails):
                sys.exit("check read %s, not %d mails" % (summary, mails))
        if "spam" in commands:
            with open(os.path.join(work, "spam.out"), "rb") as proposal:
                if b"Proposed list, %d entries" % SPAM_ENTRIES not in proposal.read():
                    sys.exit("learn --spam did not propose %d entries" % SPAM_ENTRIES)
    finally:
        os.remove(mbox)

    median = {name: statistics.median(s for s, _ in runs[name]) for name in commands}
    peak = {name: max(p for _, p in runs[name]) for name in commands}
    floor_seconds = median.get("floor")
    lines = [
        "",
        "# Reading a mail store: quorvel-host under Wine",
        "",
        "Made by `make bench` (`bench/read_bench.py`, `bench/read_floor_win.cpp`) under %s "
        "on the same machine (%s): an mbox of %d MiB, %d varied mails from `bench/make_mbox.py` "
        "(headers of many kinds, folded lines, bodies of a few lines to many kilobytes, LF and "
        "CR LF), made for the run and removed after; the plug-in's list holds 3 entries. "
        "Median of %d runs, the programs taken in turn."
        % (subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
           machine(), size // 1048576, mails, ROUNDS),
        "",
        "- **floor**: a program that reads the file in 1 MiB pieces (`fread`) and finds every "
        "line in them (`memchr`), nothing more.",
        "- **check**: `quorvel-host check big.mbox`, its verdicts into a file.",
        "- **learn**: `quorvel-host learn big.mbox`, its proposal into a file.",
        "- **learn --spam**: `quorvel-host learn --spam big.mbox entries.mbox`: %d good mails, "
        "each to an address of its own, so %d proposed entries, each weighed against every mail "
        "of the big mbox as spam." % (SPAM_ENTRIES, SPAM_ENTRIES),
        "",
        "**time** is wall time from `CreateProcess` to the process's end, Wine's start of a "
        "process included, as it is for each. **peak memory** is the peak working set "
        "Windows keeps for the process (under Wine the peak resident memory of its Unix "
        "process: Wine's own libraries included), asked every 10 ms while it runs.",
        "",
        "| program | time | MB/s | ÷ floor | peak memory |",
        "|---|---:|---:|---:|---:|",
    ]
    titles = {"floor": "floor", "check": "check", "learn": "learn", "spam": "learn --spam",
              "plain": "learn", "domains": "learn --domains"}
    for name in ("floor", "check", "learn", "spam"):
        if name not in commands:
            continue
        ratio = "%.2f×" % (median[name] / floor_seconds) if floor_seconds else "–"
        lines.append("| %s | %.2f s | %.0f | %s | %.0f MiB |" % (
            titles[name], median[name], size / 1e6 / median[name], ratio, peak[name]))
    if "plain" in commands or "domains" in commands:
        lines += [
            "",
            "The proposal's own cost: `domains.mbox`, %d good mails, each to an address of its "
            "own at one of %d domains, learned as it is and with `--domains`, which folds them "
            "into %d `@domain` entries." % (FOLD_ADDRESSES, FOLD_DOMAINS, FOLD_DOMAINS),
            "",
            "| program | time | peak memory |",
            "|---|---:|---:|",
        ]
        for name in ("plain", "domains"):
            if name in commands:
                lines.append("| %s | %.2f s | %.0f MiB |" % (titles[name], median[name],
                                                              peak[name]))
    lines += [
        "",
        "Load average %s before the runs and %s after them%s." % (
            loads[0], loads[1],
            " (the machine's CPUs were shared with other work)"
            if max(map(float, loads)) > 1.0 else ""),
        "",
    ]
    with open(out, "a") as page:
        page.write("\n".join(lines))
    print("\n".join(lines))


main()
