#!/usr/bin/env python3
"""quorvel-host's check and learn against a plain read of the same big mbox,
under Wine, in one run; appends the figures to the benchmark page.

Usage: read_bench.py HOST_EXE PLUGIN_DLL FLOOR_EXE WORK_FOLDER OUT_MD [MIB]

The mbox (bench/make_mbox.py) is made in WORK_FOLDER and removed after.
Run with WINEPREFIX set; `make bench` does.
"""
import os
import shutil
import statistics
import subprocess
import sys

ROUNDS = 5


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


def main():
    host, plugin, floor, work, out = sys.argv[1:6]
    work = os.path.abspath(work)
    mib = int(sys.argv[6]) if len(sys.argv) > 6 else 1024
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
        }
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
        with open(os.path.join(work, "check.out"), "rb") as verdicts:
            summary = verdicts.read().splitlines()[-1].decode()
        if not summary.startswith("%d mails:" % mails):
            sys.exit("check read %s, not %d mails" % (summary, mails))
    finally:
        os.remove(mbox)

    floor_seconds = statistics.median(s for s, _ in runs["floor"])
    lines = [
        "",
        "# Reading a mail store: quorvel-host under Wine",
        "",
        "Made by `make bench` (`bench/read_bench.py`, `bench/read_floor_win.cpp`) under %s "
        "on the same machine (%s): an mbox of %d MiB, %d varied mails from `bench/make_mbox.py` "
        "(headers of many kinds, folded lines, bodies of a few lines to many kilobytes, LF and "
        "CR LF), made for the run and removed after; the plug-in's list holds 3 entries. "
        "Median of %d runs, the three programs taken in turn."
        % (subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
           machine(), size // 1048576, mails, ROUNDS),
        "",
        "- **floor**: a program that reads the file in 1 MiB pieces (`fread`) and finds every "
        "line in them (`memchr`), nothing more.",
        "- **check**: `quorvel-host check big.mbox`, its verdicts into a file.",
        "- **learn**: `quorvel-host learn big.mbox`, its proposal into a file.",
        "",
        "**time** is wall time from `CreateProcess` to the process's end, Wine's start of a "
        "process included, as it is for all three. **peak memory** is the peak working set "
        "Windows keeps for the process (under Wine the peak resident memory of its Unix "
        "process: Wine's own libraries included), asked every 10 ms while it runs.",
        "",
        "| program | time | MB/s | ÷ floor | peak memory |",
        "|---|---:|---:|---:|---:|",
    ]
    for name in commands:
        seconds = statistics.median(s for s, _ in runs[name])
        peak = max(p for _, p in runs[name])
        lines.append("| %s | %.2f s | %.0f | %.2f× | %.0f MiB |" % (
            name, seconds, size / 1e6 / seconds, seconds / floor_seconds, peak))
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
