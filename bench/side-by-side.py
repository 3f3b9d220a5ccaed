#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Times rastertoVarkon, the peer driver foo2zjs and the in-process floor side by
side on the same A4 pages, and measures peak memory and long jobs.

    bench/side-by-side.py [--build DIR] [--runs N] [--long-pages N] [--quick]

The pages are rendered here from bench/pages/*.ps by the CUPS gstoraster filter,
8-bit gray as CUPS hands them to a raster driver. foo2zjs reads PBM and does no
halftoning, so it gets the very bits our halftone makes from the same page. The
floor is varkon-bench-floor: raster read, halftone and JBIG of the page in one
thread of one process, timed inside it. Every contestant runs once per round, in
an order that rotates from round to round, so that load from elsewhere on the
machine falls on all of them alike; the tables give min, median and max.
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RSS_TOOL = None  # varkon-bench-rss of the build

# One model of each platform, and the raster options that select its modes.
PPD_Z = "varkon-oskel-301.ppd"
PPD_C = "varkon-belvar-210.ppd"
PPD_M = "varkon-nimbrel-41.ppd"
PPD_Z_DUPLEX = "varkon-oskel-301d.ppd"  # with a duplex unit: no manual duplex and its wait


def fail(message):
    sys.exit("side-by-side: " + message)


def machine_text():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    allowed = len(os.sched_getaffinity(0))
    return "%s, %d cores usable, %s %s" % (model, allowed, platform.system(), platform.release())


def load_text():
    return "%.2f %.2f %.2f" % os.getloadavg()


def run(command, stdin_path=None, env_extra=None, read_stdout=False):
    """Runs a program to its end through the RSS launcher: wall milliseconds, peak
    RSS in MB, exit status and standard output."""
    env = dict(os.environ)
    env.update(env_extra or {})
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    with tempfile.NamedTemporaryFile(prefix="varkon-rss-") as rss_file:
        try:
            start = time.perf_counter()
            child = subprocess.Popen([RSS_TOOL, rss_file.name] + command, stdin=stdin, env=env,
                                     stderr=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE if read_stdout else subprocess.DEVNULL)
            out = child.stdout.read() if read_stdout else b""
            child.wait()
            elapsed = (time.perf_counter() - start) * 1000.0
        finally:
            if stdin_path:
                stdin.close()
        rss = peak_rss_mb(rss_file.name)
    return elapsed, rss, child.returncode, out


def peak_rss_mb(path):
    with open(path) as text:
        value = text.read().strip()
    return int(value) / 1024.0 if value else 0.0


class Contestant:
    def __init__(self, name, command, stdin_path=None, env=None, inner_time=False):
        self.name = name
        self.command = command
        self.stdin_path = stdin_path
        self.env = env or {}
        self.inner_time = inner_time  # the program prints its own time: process start is not counted
        self.ms = []
        self.rss = []

    def measure(self):
        elapsed, rss, status, out = run(self.command, self.stdin_path, self.env, read_stdout=self.inner_time)
        if status != 0:
            fail("%s failed with status %d: %s" % (self.name, status, " ".join(self.command)))
        if self.inner_time:
            elapsed = float(out.split()[0])
        self.ms.append(elapsed)
        self.rss.append(rss)

    def median(self):
        return statistics.median(self.ms)


def side_by_side(contestants, runs):
    for r in range(runs):
        shift = r % len(contestants)
        for c in contestants[shift:] + contestants[:shift]:
            c.measure()


def print_table(title, contestants, rss=True):
    print()
    print("%-46s %8s %8s %8s %10s" % (title, "min ms", "median", "max", "peak RSS" if rss else ""))
    for c in contestants:
        print("  %-44s %8.1f %8.1f %8.1f %s" % (c.name, min(c.ms), c.median(), max(c.ms),
                                                "%7.1f MB" % max(c.rss) if rss else ""))


def ratio_line(text, numerator, denominator, goal=None):
    by_median = numerator.median() / denominator.median()
    by_min = min(numerator.ms) / min(denominator.ms)
    verdict = ""
    if goal is not None:
        verdict = "  goal <= %.2f: %s" % (goal, "met" if by_median <= goal else "NOT met")
    print("  %-52s %5.2f (min %5.2f)%s" % (text, by_median, by_min, verdict))
    return by_median


def render(ps, ppd, options, out):
    env = dict(os.environ, PPD=ppd)
    with open(out, "wb") as raster:
        done = subprocess.run(["/usr/lib/cups/filter/gstoraster", "1", "bench", "bench", "1", options, ps],
                              stdout=raster, stderr=subprocess.DEVNULL, env=env)
    if done.returncode != 0 or os.path.getsize(out) == 0:
        fail("gstoraster could not render %s" % ps)


def pbm_size(path):
    with open(path, "rb") as pbm:
        pbm.readline()
        width, height = pbm.readline().split()
    return int(width), int(height)


def find_foo2zjs(install):
    path = shutil.which("foo2zjs")
    if path or not install:
        return path
    if os.geteuid() == 0 and shutil.which("apt-get"):
        print("Installing printer-driver-foo2zjs for the comparison ...", flush=True)
        subprocess.run(["apt-get", "install", "-y", "printer-driver-foo2zjs"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return shutil.which("foo2zjs")


def long_job(name, build, ras, ppd, pages, options=""):
    """A job of `pages` copies of one page through a pipe: time of each page from
    its PAGE: line to the next one (the last to the end of the job), and peak RSS."""
    repeater = subprocess.Popen([os.path.join(build, "bench", "varkon-bench-raster"), "--repeat", ras,
                                 str(pages), "-"], stdout=subprocess.PIPE)
    env = dict(os.environ, PPD=ppd)
    with tempfile.NamedTemporaryFile(prefix="varkon-rss-") as rss_file:
        filt = subprocess.Popen([RSS_TOOL, rss_file.name, os.path.join(build, "rastertoVarkon", "rastertoVarkon"),
                                 "1", "bench", "long job", "1", options], stdin=repeater.stdout,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        repeater.stdout.close()
        marks = []
        for line in filt.stderr:
            if line.startswith(b"PAGE: "):
                marks.append(time.perf_counter())
        filt.wait()
        end = time.perf_counter()
        repeater.wait()
        rss = peak_rss_mb(rss_file.name)
    if filt.returncode != 0 or len(marks) != pages:
        fail("the long job %s printed %d of %d pages" % (name, len(marks), pages))
    marks.append(end)
    per_page = [(b - a) * 1000.0 for a, b in zip(marks, marks[1:])]
    later = per_page[1:]
    print("  %-44s page 2 %6.1f, pages 2-%d: median %6.1f min %6.1f max %6.1f, last 10 %6.1f ms; "
          "peak RSS %5.1f MB" % (name, per_page[1], pages, statistics.median(later), min(later), max(later),
                                 statistics.median(per_page[-10:]), rss))
    return LongJob(later, rss)


class LongJob:
    def __init__(self, per_page, rss):
        self.ms = per_page  # pages 2 to the last
        self.rss = rss

    def median(self):
        return statistics.median(self.ms)



def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"), help="build directory")
    parser.add_argument("--runs", type=int, default=15, help="rounds of the one-page comparison")
    parser.add_argument("--multi-pages", type=int, default=20, help="pages of the multi-page comparison")
    parser.add_argument("--long-pages", type=int, default=200, help="pages of the long 600 dpi jobs")
    parser.add_argument("--long-pages-1200", type=int, default=20, help="pages of the long 1200 dpi job")
    parser.add_argument("--quick", action="store_true", help="few runs and short jobs, to try the script")
    parser.add_argument("--no-install", action="store_true", help="do not install foo2zjs when it is missing")
    args = parser.parse_args()
    if args.quick:
        args.runs, args.multi_pages, args.long_pages, args.long_pages_1200 = 3, 4, 12, 3

    build = os.path.abspath(args.build)
    global RSS_TOOL
    RSS_TOOL = os.path.join(build, "bench", "varkon-bench-rss")
    filt = os.path.join(build, "rastertoVarkon", "rastertoVarkon")
    floor = os.path.join(build, "bench", "varkon-bench-floor")
    ppds = os.path.join(build, "drv", "ppd")
    for need in (filt, floor, RSS_TOOL, os.path.join(build, "bench", "varkon-bench-raster"),
                 os.path.join(ppds, PPD_Z), "/usr/lib/cups/filter/gstoraster"):
        if not os.path.exists(need):
            fail("%s is missing; build rastertoVarkon, varkon-bench-floor, varkon-bench-raster, "
                 "varkon-bench-rss and varkon_ppds, and install cups-filters" % need)
    foo2zjs = find_foo2zjs(not args.no_install)
    one_core = ["taskset", "-c", "0"] if shutil.which("taskset") else None
    ppd = {p: os.path.join(ppds, f) for p, f in (("Z", PPD_Z), ("C", PPD_C), ("M", PPD_M))}

    print("Machine: %s" % machine_text())
    print("Load average at the start: %s" % load_text())
    work = tempfile.mkdtemp(prefix="varkon-bench-")
    try:
        results = {}
        pages = {}
        for kind in ("text", "photo"):
            ps = os.path.join(HERE, "pages", kind + ".ps")
            ras = os.path.join(work, kind + ".ras")
            render(ps, ppd["Z"], "", ras)
            ras1200 = os.path.join(work, kind + "-1200.ras")
            render(ps, ppd["C"], "DPI1200=True", ras1200)
            pbm = os.path.join(work, kind + ".pbm")
            run([floor, ras, ppd["Z"], "1", "--pbm", pbm])
            pbm1200 = os.path.join(work, kind + "-1200.pbm")
            run([floor, ras1200, ppd["C"], "1", "--dpi1200", "--pbm", pbm1200])
            pages[kind] = (ras, ras1200, pbm, pbm1200)
        w, h = pbm_size(pages["text"][2])
        w12, h12 = pbm_size(pages["text"][3])
        print("Pages: A4 from bench/pages/text.ps and photo.ps through gstoraster, 8-bit gray; "
              "600 dpi: %d x %d device pixels (platform Z), 1200 dpi: %d x %d (platform C)" % (w, h, w12, h12))
        print("One-page jobs: %d rounds side by side, in rotating order; the filter reads the raster file "
              "and writes to /dev/null; foo2zjs reads the PBM of the same halftoned page" % args.runs)
        if not foo2zjs:
            print("foo2zjs is not installed: its rows are left out")

        for kind in ("text", "photo"):
            ras, ras1200, pbm, pbm1200 = pages[kind]
            cs = {}
            for p in ("Z", "C", "M"):
                cs[p] = Contestant("rastertoVarkon, platform %s" % p, [filt, "1", "bench", kind, "1", "", ras],
                                   env={"PPD": ppd[p]})
            if one_core:
                cs["Z1"] = Contestant("rastertoVarkon, platform Z, one core", one_core + cs["Z"].command,
                                      env={"PPD": ppd["Z"]})
                cs["floor"] = Contestant("in-process floor, one core (Z bands)",
                                         one_core + [floor, ras, ppd["Z"], "1"], inner_time=True)
                cs["floorproc"] = Contestant("floor as a whole process, one core",
                                             one_core + [floor, ras, ppd["Z"], "1"])
            if foo2zjs:
                cs["foo"] = Contestant("foo2zjs (PBM in)", [foo2zjs, "-r600x600", "-g%dx%d" % (w, h), "-p9"],
                                       stdin_path=pbm)
            side_by_side(list(cs.values()), args.runs)
            print_table("%s page, 600 dpi" % kind, list(cs.values()))
            results[kind] = cs

        for kind in ("text", "photo"):
            ras, ras1200, pbm, pbm1200 = pages[kind]
            cs = {"C": Contestant("rastertoVarkon, platform C, 1200 dpi",
                                  [filt, "1", "bench", kind, "1", "DPI1200=True", ras1200], env={"PPD": ppd["C"]})}
            if foo2zjs:
                cs["foo"] = Contestant("foo2zjs (PBM in), 1200 dpi",
                                       [foo2zjs, "-r1200x1200", "-g%dx%d" % (w12, h12), "-p9"], stdin_path=pbm1200)
            side_by_side(list(cs.values()), max(3, args.runs // 3))
            print_table("%s page, 1200 dpi" % kind, list(cs.values()))
            results[kind + "1200"] = cs

        print()
        print("Ratios of medians (of minima in brackets):")
        for kind, goal in (("text", 1.0), ("photo", 0.9)):
            cs = results[kind]
            if "foo" in cs:
                ratio_line("platform Z / foo2zjs, %s page" % kind, cs["Z"], cs["foo"], goal)
        for kind in ("text", "photo"):
            cs = results[kind]
            for p in ("C", "M"):
                ratio_line("platform %s / platform Z, %s page" % (p, kind), cs[p], cs["Z"], 1.2)
        for kind in ("text", "photo"):
            cs = results[kind]
            if "Z1" in cs:
                ratio_line("platform Z on one core / floor, %s page" % kind, cs["Z1"], cs["floor"], 1.15)
                ratio_line("  the same / floor as a whole process", cs["Z1"], cs["floorproc"])
        for kind in ("text", "photo"):
            cs = results[kind + "1200"]
            if "foo" in cs:
                ratio_line("platform C / foo2zjs, 1200 dpi %s page" % kind, cs["C"], cs["foo"])

        print()
        multi = {}
        repeater = os.path.join(build, "bench", "varkon-bench-raster")
        for kind in ("text", "photo"):
            for p in ("Z", "C", "M"):
                pipeline = "'%s' --repeat '%s' %d - | '%s' 1 bench multi 1 ''" % (repeater, pages[kind][0],
                                                                                 args.multi_pages, filt)
                multi[p + " " + kind] = Contestant("platform %s, %d %s pages" % (p, args.multi_pages, kind),
                                                   ["/bin/sh", "-c", pipeline], env={"PPD": ppd[p]})
        side_by_side(list(multi.values()), max(3, args.runs // 3))
        for c in multi.values():
            c.ms = [ms / args.multi_pages for ms in c.ms]
        print("Multi-page jobs side by side (one page repeated through a pipe; the pipe's writer shares "
              "the machine), ms per page:")
        print_table("", list(multi.values()), rss=False)
        print()
        print("Ratios of medians (of minima in brackets), multi-page jobs:")
        for kind in ("text", "photo"):
            for p in ("C", "M"):
                ratio_line("platform %s / platform Z, %s pages" % (p, kind), multi["%s %s" % (p, kind)],
                           multi["Z " + kind], 1.2)

        print()
        print("Long jobs: one page repeated through a pipe from varkon-bench-raster; time per page from one "
              "PAGE: line to the next")
        jobs = {}
        duplex_ppd = os.path.join(ppds, PPD_Z_DUPLEX)
        for key, name, kind, p_ppd, opts in (
                ("Z text", "Z, text", "text", ppd["Z"], ""), ("Z photo", "Z, photo", "photo", ppd["Z"], ""),
                ("C text", "C, text", "text", ppd["C"], ""), ("C photo", "C, photo", "photo", ppd["C"], ""),
                ("M text", "M, text", "text", ppd["M"], ""), ("M photo", "M, photo", "photo", ppd["M"], ""),
                ("Z duplex", "Z, text, long-edge duplex", "text", duplex_ppd, "Duplex=DuplexNoTumble")):
            jobs[key] = long_job("%s, %d pages" % (name, args.long_pages), build, pages[kind][0], p_ppd,
                                 args.long_pages, opts)
        rss600 = [job.rss for job in jobs.values()]
        rss1200 = long_job("C, text, 1200 dpi, %d pages" % args.long_pages_1200, build, pages["text"][1],
                           ppd["C"], args.long_pages_1200, "DPI1200=True").rss
        print()
        print("Flatness of the long jobs: time per page of the last tenth against pages 2 on "
              "(medians; minima in brackets):")
        for key, job in jobs.items():
            tenth = max(1, len(job.ms) // 10)
            early = LongJob(job.ms[:tenth], 0)
            late = LongJob(job.ms[-tenth:], 0)
            ratio_line("%s: last %d pages / pages 2-%d" % (key, tenth, tenth + 1), late, early)
        print("  peak RSS, 600 dpi: %.1f MB (goal <= 60), 1200 dpi: %.1f MB (goal <= 200)" % (max(rss600), rss1200))
        print()
        print("Load average at the end: %s" % load_text())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
