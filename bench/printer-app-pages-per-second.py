#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Pages per second of the Printer Application against the rastertoVarkon filter.

    bench/printer-app-pages-per-second.py [--build DIR] [--pages N] [--mix text|photo|mixed]
                                          [--rounds N]

The same pages (A4, 600 dpi, 8-bit gray, from varkon-bench-raster) go once as
PWG raster through a running varkon-printer-app to a file:// device, timed
from the submission of the Print-Job to the job's completed state
(varkon-bench-ipp-job), and as CUPS raster through rastertoVarkon with the
model's generated PPD, as bench/pages-per-second.sh runs it, timed from the
start of the process to its end: compressed, as pages-per-second.sh writes
it, and uncompressed, as CUPS's gstoraster hands it over. One model of each
platform; the three run one after the other, in an order that rotates from
round to round, so that load from elsewhere falls on all alike. Medians and
minima of the rounds, and the server's rate as a share of the filter's (the
goal is at least 0.90). Every contestant must send the printer the same
number of bytes.
"""

import argparse
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

MODELS = [("C", "varkon_belvar_210", "varkon-belvar-210.ppd"),
          ("Z", "varkon_oskel_301", "varkon-oskel-301.ppd"),
          ("M", "varkon_nimbrel_41", "varkon-nimbrel-41.ppd")]
GOAL = 0.90


def fail(message):
    sys.exit("printer-app-pages-per-second: " + message)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3])


class Server:
    def __init__(self, program, directory):
        self.program = program
        self.dir = directory
        self.port = free_port()
        self.env = dict(os.environ, SNAP_COMMON=directory)
        out = open(os.path.join(directory, "server.out"), "w")
        self.process = subprocess.Popen(
            [program, "server", "-o", "server-port=%d" % self.port, "-o", "listen-hostname=127.0.0.1",
             "-o", "log-level=info", "-o", "log-file=" + os.path.join(directory, "server.log")],
            env=self.env, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while not self.ready():
            if self.process.poll() is not None or time.monotonic() > deadline:
                fail("the server did not start; see " + directory)
            time.sleep(0.05)

    def ready(self):
        if not os.path.exists(os.path.join(self.dir, "varkon-printer-app.sock")):
            return False
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False

    def add_printer(self, name, driver, device):
        r = subprocess.run([self.program, "add", "-d", name, "-m", driver, "-v", device], env=self.env,
                           capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            fail("add %s: %s%s" % (name, r.stdout, r.stderr))

    def uri(self, name):
        return "ipp://127.0.0.1:%d/ipp/print/%s" % (self.port, name)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def time_filter(filter_program, ppd, raster, out):
    env = dict(os.environ, PPD=ppd)
    start = time.monotonic()
    with open(out, "wb") as o:
        r = subprocess.run([filter_program, "1", "bench", "pages per second", "1", "", raster], env=env, stdout=o,
                           stderr=subprocess.PIPE)
    seconds = time.monotonic() - start
    if r.returncode != 0:
        fail("the filter failed with %s:\n%s" % (ppd, r.stderr.decode(errors="replace")[-2000:]))
    pages = r.stderr.decode(errors="replace").count("\nPAGE: ") + r.stderr.startswith(b"PAGE: ")
    return seconds, pages, os.path.getsize(out)


def time_server(timer, uri, pwg, out_dir, job_name):
    r = subprocess.run([timer, uri, pwg, "image/pwg-raster", job_name], capture_output=True, text=True,
                       timeout=600)
    if r.returncode != 0:
        fail("the server's job failed on %s: %s%s" % (uri, r.stdout, r.stderr))
    seconds, state, impressions = r.stdout.split()
    return float(seconds), int(impressions), os.path.getsize(os.path.join(out_dir, job_name + ".prn"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--pages", type=int, default=20)
    parser.add_argument("--mix", default="mixed", choices=["text", "photo", "mixed"])
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    b = args.build
    tools = {"app": b + "/printer-app/varkon-printer-app", "filter": b + "/rastertoVarkon/rastertoVarkon",
             "maker": b + "/bench/varkon-bench-raster", "timer": b + "/bench/varkon-bench-ipp-job"}
    for path in tools.values():
        if not os.access(path, os.X_OK):
            fail("%s is missing; build varkon-printer-app, rastertoVarkon, varkon_ppds, varkon-bench-raster "
                 "and varkon-bench-ipp-job" % path)
    tools = {k: os.path.abspath(v) for k, v in tools.items()}
    ppds = os.path.abspath(b + "/drv/ppd")

    work = tempfile.mkdtemp(prefix="varkon-app-bench-")
    server = None
    try:
        raster, plain, pwg = (os.path.join(work, n) for n in ("job.ras", "job-uncompressed.ras", "job.pwg"))
        subprocess.run([tools["maker"], raster, str(args.pages), args.mix, "--pwg", pwg], check=True)
        subprocess.run([tools["maker"], plain, str(args.pages), args.mix, "--pwg", pwg, "--uncompressed"],
                       check=True)
        server = Server(tools["app"], work)
        for platform, driver, _ in MODELS:
            os.makedirs(os.path.join(work, "out-" + platform))
            server.add_printer(platform.lower(), driver, "file://" + os.path.join(work, "out-" + platform))
        print("Load average at the start: " + load())
        print("%d %s pages, A4 600 dpi 8-bit gray: %d bytes as PWG raster, %d as compressed and %d as "
              "uncompressed CUPS raster; %d rounds" % (args.pages, args.mix, os.path.getsize(pwg),
                                                       os.path.getsize(raster), os.path.getsize(plain), args.rounds))
        print("server: Print-Job to completed, to a file:// device; filter: the whole process, to a file")
        contestants = ["server", "filter", "filter, uncompressed"]
        inputs = {"filter": raster, "filter, uncompressed": plain}
        times = {(p, who): [] for p, _, _ in MODELS for who in contestants}
        sizes = {}
        for round_ in range(args.rounds):
            order = contestants[round_ % 3:] + contestants[:round_ % 3]
            for platform, _, ppd in MODELS:
                for who in order:
                    if who == "server":
                        s, pages, size = time_server(tools["timer"], server.uri(platform.lower()), pwg,
                                                     os.path.join(work, "out-" + platform), "round%d" % round_)
                    else:
                        s, pages, size = time_filter(tools["filter"], os.path.join(ppds, ppd), inputs[who],
                                                     os.path.join(work, "filter-" + platform + ".prn"))
                    if pages != args.pages:
                        fail("%s printed %d of %d pages on platform %s" % (who, pages, args.pages, platform))
                    times[(platform, who)].append(s)
                    sizes.setdefault((platform, size), []).append(who)
            print("  round %d done, load %s" % (round_ + 1, load()), flush=True)
        for platform, _, _ in MODELS:
            if len([k for k in sizes if k[0] == platform]) != 1:
                fail("platform %s: the printer data differ in size: %s" % (
                    platform, {k[1]: sorted(set(v)) for k, v in sizes.items() if k[0] == platform}))
        print()
        print("%-9s %-22s %9s %9s %9s" % ("platform", "", "median s", "min s", "pages/s"))
        ratios = []
        for platform, _, _ in MODELS:
            rate = {}
            for who in contestants:
                t = times[(platform, who)]
                rate[who] = args.pages / statistics.median(t)
                print("%-9s %-22s %9.3f %9.3f %9.2f" % (platform, who, statistics.median(t), min(t), rate[who]))
            for who in contestants[1:]:
                ratio = rate["server"] / rate[who]
                best = min(times[(platform, who)]) / min(times[(platform, "server")])
                ratios.append(ratio)
                print("%-9s server / %-22s %.2f (of minima %.2f)  goal >= %.2f: %s"
                      % (platform, who + ",", ratio, best, GOAL, "met" if ratio >= GOAL else "NOT met"))
        print("Load average at the end: " + load())
        return 0 if min(ratios) >= GOAL else 1
    finally:
        if server is not None:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
