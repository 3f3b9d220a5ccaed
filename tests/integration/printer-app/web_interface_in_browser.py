#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The web interface of a running varkon-printer-app in headless Chromium.

Starts a private server with one printer, follows every same-site link from
the home page on (breadth first, each page once), and checks that each page
loads, carries the footer and leaves the server running. Then it changes the
printer's Print Density on the printing defaults page through the form, as a
person would, and reads density-default back over IPP with ipptool. A
screenshot of the printer page goes to the output directory.

    web_interface_in_browser.py --program build/printer-app/varkon-printer-app \
        --output DIR [--avahi]

With --avahi a private dbus-daemon and avahi-daemon run beside the server;
without it no avahi-daemon may be reachable. As root both cases run in their
own mount and network namespaces (unshare -mn): a private /run, so that the
host's avahi-daemon, if any, is neither seen nor disturbed, and only the
loopback interface, so that the add-printer page's SNMP and DNS-SD queries
stay on this machine. Exit status 77 (a skip for ctest) says why a case
cannot run here.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

FOOTER = "Varkon Printer Application for the host-based Varkon printers."
PRINTER = "z"
DRIVER = "varkon_oskel_301"
SKIP = 77
NAMESPACE_MARK = "VARKON_WEB_TEST_IN_NAMESPACE"
# Pages PAPPL 1.3.1 serves for this system (the options of printer-app/system)
# and printer; the crawl must reach each of them from the home page by links.
EXPECTED_PATHS = ["/", "/config", "/security", "/logs", "/logfile.txt", "/addprinter",
                  "/" + PRINTER, "/" + PRINTER + "/", "/" + PRINTER + "/config", "/" + PRINTER + "/delete",
                  "/" + PRINTER + "/jobs", "/" + PRINTER + "/media", "/" + PRINTER + "/printing"]
# Pages of other PAPPL set-ups (network settings, Wi-Fi, TLS certificates,
# supplies): not offered here, and asking for them must not hurt the server.
ABSENT_PATHS = ["/network", "/network-wifi", "/tls-install-crt", "/tls-new-crt", "/tls-new-csr",
                "/" + PRINTER + "/supplies"]
MAX_PAGES = 200


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def skip(reason):
    log("SKIP: " + reason)
    sys.exit(SKIP)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


# --- the namespaces ----------------------------------------------------------

def enter_namespace_or_skip(args):
    """Re-runs this script under unshare -mn when it may; returns when this
    process is the one to run the test."""
    if os.environ.get(NAMESPACE_MARK) == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        if args.avahi:
            subprocess.run(["ip", "link", "set", "lo", "multicast", "on"], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run"], check=True)
        log("in private mount and network namespaces: only loopback, an empty /run")
        return
    unshare = shutil.which("unshare")
    why = None
    if os.geteuid() != 0:
        why = "not root"
    elif unshare is None or shutil.which("ip") is None:
        why = "unshare or ip is missing"
    else:
        probe = subprocess.run([unshare, "-mn", "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            why = "unshare -mn is refused here: " + probe.stderr.strip()
    if why is None:
        env = dict(os.environ, **{NAMESPACE_MARK: "1"})
        result = subprocess.run([unshare, "-mn", sys.executable] + sys.argv, env=env)
        sys.exit(result.returncode)
    if args.avahi:
        skip("a private avahi-daemon needs its own /run and a network of loopback only "
             "(unshare -mn as root), and " + why)
    if os.path.exists("/run/avahi-daemon/pid"):
        skip("an avahi-daemon runs on this host and this case cannot hide it (" + why + ")")
    log("running without namespaces (" + why + "); no avahi-daemon runs here")


class Avahi:
    """A dbus-daemon of its own (as the system bus) and an avahi-daemon on it."""

    def __init__(self, directory):
        self.directory = directory
        self.bus = os.path.join(directory, "system_bus_socket")
        self.processes = []

    def start(self):
        for program in ("dbus-daemon", "avahi-daemon"):
            if shutil.which(program) is None:
                skip(program + " is not installed")
        bus_conf = os.path.join(self.directory, "system-bus.conf")
        with open(bus_conf, "w") as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"\n'
                    ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                    "<busconfig>\n  <type>system</type>\n"
                    "  <listen>unix:path=" + self.bus + "</listen>\n  <auth>EXTERNAL</auth>\n"
                    '  <policy context="default">\n    <allow user="*"/>\n    <allow own="*"/>\n'
                    '    <allow send_destination="*"/>\n    <allow receive_sender="*"/>\n'
                    "  </policy>\n</busconfig>\n")
        avahi_conf = os.path.join(self.directory, "avahi-daemon.conf")
        with open(avahi_conf, "w") as f:
            f.write("[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\nenable-dbus=yes\n"
                    "[wide-area]\nenable-wide-area=no\n"
                    "[publish]\npublish-hinfo=no\npublish-workstation=no\n")
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + self.bus
        self.processes.append(subprocess.Popen(
            ["dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + bus_conf],
            stdout=self.log_file("dbus.log"), stderr=subprocess.STDOUT))
        wait_until(lambda: os.path.exists(self.bus), 10, "the private dbus-daemon")
        self.processes.append(subprocess.Popen(
            ["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f", avahi_conf],
            stdout=self.log_file("avahi.log"), stderr=subprocess.STDOUT))
        wait_until(lambda: os.path.exists("/run/avahi-daemon/socket") or self.processes[-1].poll() is not None,
                   15, "avahi-daemon")
        if self.processes[-1].poll() is not None:
            raise Failure("avahi-daemon ended at its start:\n" + self.read_log("avahi.log"))
        # The daemon answers once it has registered on the bus.
        wait_until(lambda: subprocess.run(["avahi-browse", "-a", "-t"], capture_output=True).returncode == 0
                   if shutil.which("avahi-browse") else True, 15, "avahi-daemon on the bus")
        log("private avahi-daemon %d on dbus-daemon %d (%s)" % (self.processes[1].pid, self.processes[0].pid,
                                                                self.bus))

    def log_file(self, name):
        return open(os.path.join(self.directory, name), "w")

    def read_log(self, name):
        with open(os.path.join(self.directory, name), errors="replace") as f:
            return f.read()

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


# --- the server --------------------------------------------------------------

class Server:
    """A private server as the C++ fixture PrinterAppServer starts one."""

    def __init__(self, program, directory):
        self.program = program
        self.dir = directory
        self.port = free_port()
        self.process = None
        self.env = dict(os.environ, SNAP_COMMON=directory, ASAN_OPTIONS="detect_leaks=0")

    def start(self):
        out = open(os.path.join(self.dir, "server.out"), "w")
        self.process = subprocess.Popen(
            [self.program, "server", "-o", "server-port=%d" % self.port, "-o", "listen-hostname=127.0.0.1",
             "-o", "log-level=debug", "-o", "log-file=" + os.path.join(self.dir, "server.log")],
            env=self.env, stdout=out, stderr=subprocess.STDOUT)
        wait_until(lambda: not self.running() or (self.answers() and os.path.exists(
            os.path.join(self.dir, "varkon-printer-app.sock"))), 20, "the server")
        if not self.running():
            raise Failure("the server ended at its start:\n" + self.log())

    def running(self):
        return self.process is not None and self.process.poll() is None

    def answers(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=2):
                return True
        except OSError:
            return False

    def command(self, *args):
        return subprocess.run([self.program] + list(args), env=self.env, capture_output=True, text=True, timeout=60)

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def printer_uri(self):
        return "ipp://127.0.0.1:%d/ipp/print/%s" % (self.port, PRINTER)

    def log(self):
        text = ""
        for name in ("server.out", "server.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f.read()
        return text

    def log_tail(self, lines=40):
        return "\n".join(self.log().splitlines()[-lines:])

    def stop(self):
        if self.running():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def ipp_attribute(server, name, directory):
    """The printer attribute `name` as ipptool prints it, asked for by name."""
    test = os.path.join(directory, "get-%s.test" % name)
    with open(test, "w") as f:
        f.write("{\n  NAME \"Get %s\"\n  OPERATION Get-Printer-Attributes\n"
                "  GROUP operation-attributes-tag\n"
                "  ATTR charset attributes-charset utf-8\n"
                "  ATTR naturalLanguage attributes-natural-language en\n"
                "  ATTR uri printer-uri $uri\n"
                "  ATTR keyword requested-attributes %s\n"
                "  STATUS successful-ok\n  EXPECT %s\n  DISPLAY %s\n}\n" % (name, name, name, name))
    result = subprocess.run(["ipptool", "-t", server.printer_uri(), test], capture_output=True, text=True,
                            timeout=60)
    for line in result.stdout.splitlines():
        line = line.strip()
        if line.startswith(name + " ("):
            return line.split("=", 1)[1].strip()
    raise Failure("ipptool found no %s:\n%s%s" % (name, result.stdout, result.stderr))


# --- the browser -------------------------------------------------------------

def browser(directory):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:
        skip("selenium is missing (%s); install python3-selenium and run with /usr/bin/python3" % e)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    chromedriver = shutil.which("chromedriver")
    if chromium is None or chromedriver is None:
        skip("chromium and chromedriver are needed (Debian: chromium, chromium-driver)")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ("--headless=new", "--no-sandbox", "--no-zygote", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1280,1400", "--user-data-dir=" + os.path.join(directory, "chromium-profile")):
        options.add_argument(arg)
    service = Service(chromedriver, log_path=os.path.join(directory, "chromedriver.log"))
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(90)
    return driver


def http_status(url):
    """Status and content type of a GET without the browser (which hides both)."""
    try:
        with urllib.request.urlopen(url, timeout=90) as r:
            return r.status, r.headers.get_content_type()
    except urllib.error.HTTPError as e:
        return e.code, e.headers.get_content_type()


def same_site_links(driver, server):
    from selenium.webdriver.common.by import By
    base = urllib.parse.urlsplit(server.url())
    links = []
    for a in driver.find_elements(By.TAG_NAME, "a"):
        href = a.get_attribute("href")
        if not href:
            continue
        u = urllib.parse.urlsplit(href)
        if u.scheme == base.scheme and u.netloc == base.netloc:
            links.append(urllib.parse.urlunsplit((u.scheme, u.netloc, u.path or "/", u.query, "")))
    return links


def visit(driver, server, url):
    """Loads one page; returns the same-site links on it."""
    status, content_type = http_status(url)
    if not server.running():
        raise Failure("the server ended on GET %s:\n%s" % (url, server.log_tail()))
    if not 200 <= status < 300:
        raise Failure("GET %s answered %d" % (url, status))
    driver.get(url)
    if not server.running():
        raise Failure("the server ended when the browser loaded %s:\n%s" % (url, server.log_tail()))
    if not server.answers():
        raise Failure("the server does not answer after %s" % url)
    if content_type != "text/html":
        log("  %-40s %s, %d bytes" % (urllib.parse.urlsplit(url).path, content_type,
                                       len(driver.page_source)))
        return []
    body = driver.page_source
    if FOOTER not in body:
        raise Failure("%s has no footer:\n%s" % (url, body[:2000]))
    if "<form" in body:
        forms = "with a form"
    else:
        forms = ""
    log("  %-40s %-30s %s" % (urllib.parse.urlsplit(url).path + ("?" + urllib.parse.urlsplit(url).query
                                                                  if urllib.parse.urlsplit(url).query else ""),
                             driver.title[:30], forms))
    return same_site_links(driver, server)


def crawl(driver, server):
    """Every page reachable by same-site links from the home page; the paths seen."""
    start = server.url("/")
    queue, seen = [start], {start}
    while queue:
        url = queue.pop(0)
        for link in visit(driver, server, url):
            if link not in seen and len(seen) < MAX_PAGES:
                seen.add(link)
                queue.append(link)
    log("%d pages visited, the server is still running" % len(seen))
    return {urllib.parse.urlsplit(u).path for u in seen}


def change_density(driver, server, directory):
    """Sets Print Density through the printing defaults form; the value set."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait
    before = ipp_attribute(server, "density-default", directory)
    wanted = "4" if before != "4" else "0"
    driver.get(server.url("/%s/printing" % PRINTER))
    field = driver.find_element(By.NAME, "density")
    Select(field).select_by_value(wanted)
    form = field.find_element(By.XPATH, "./ancestor::form")
    form.find_element(By.CSS_SELECTOR, "input[type=submit],button[type=submit],button:not([type])").click()
    # The click may return before the server has answered the POST: the
    # defaults are read back once its answer has replaced the form's page.
    WebDriverWait(driver, 60).until(expected_conditions.staleness_of(form))
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.readyState") == "complete")
    if not server.running():
        raise Failure("the server ended on the printing defaults form:\n" + server.log_tail())
    if "Changes saved." not in driver.page_source:
        raise Failure("the printing defaults form was not saved: " + page_message(driver))
    after = ipp_attribute(server, "density-default", directory)
    log("Print Density through the form: density-default %s before, %s after (wanted %s); page says: %s"
        % (before, after, wanted, page_message(driver)))
    if after != wanted:
        raise Failure("density-default is %s after the form set %s" % (after, wanted))
    driver.get(server.url("/%s/printing" % PRINTER))
    shown = Select(driver.find_element(By.NAME, "density")).first_selected_option.get_attribute("value")
    if shown != wanted:
        raise Failure("the printing defaults page shows density %s after %s was saved" % (shown, wanted))


def page_message(driver):
    from selenium.webdriver.common.by import By
    for css in (".banner", ".message", "blockquote", "h1"):
        found = driver.find_elements(By.CSS_SELECTOR, css)
        if found and found[0].text.strip():
            return found[0].text.strip().replace("\n", " ")[:100]
    return "(no message)"


def check_add_printer_page(driver, server, avahi):
    from selenium.webdriver.common.by import By
    driver.get(server.url("/addprinter"))
    text = driver.find_element(By.TAG_NAME, "body").text
    if not server.running():
        raise Failure("the add-printer page ended the server:\n" + server.log_tail())
    if avahi:
        # PAPPL's own page: a form with the printer's name, driver and device.
        if not driver.find_elements(By.NAME, "printer_name") and "no avahi-daemon" in text:
            raise Failure("the server with avahi-daemon serves the page for a server without it")
        choices = [o.text for o in driver.find_elements(By.CSS_SELECTOR, "select[name=device_uri] option")]
        log("add-printer page with avahi-daemon: PAPPL's own form, devices offered: %s" % "; ".join(choices))
    else:
        if "no avahi-daemon was running" not in text:
            raise Failure("the add-printer page without avahi-daemon does not say why:\n" + text[:1000])
        log("add-printer page without avahi-daemon: says why and how to add a printer")


def check_absent_pages(server):
    answers = []
    for path in ABSENT_PATHS:
        status, _ = http_status(server.url(path))
        if not server.running():
            raise Failure("the server ended on GET %s:\n%s" % (path, server.log_tail()))
        if 200 <= status < 300:
            raise Failure("%s is served, but no page links to it" % path)
        answers.append("%s %d" % (path, status))
    log("pages not offered here: " + ", ".join(answers))


def check_advertised(server):
    """The server as DNS-SD browsing finds it through the private avahi-daemon.
    PAPPL 1.3.1 advertises a printer added while it runs only from its next
    start on, so the system's own service is what is looked for."""
    if shutil.which("avahi-browse") is None:
        log("avahi-browse is missing: the DNS-SD registration is not checked")
        return
    deadline = time.monotonic() + 30
    while True:
        found = subprocess.run(["avahi-browse", "-a", "-t", "-r", "-p"], capture_output=True, text=True,
                               timeout=60).stdout.splitlines()
        mine = [line.split(";") for line in found if line.startswith("=")]
        mine = [f for f in mine if len(f) > 8 and f[8] == str(server.port)]
        if any(f[4] == "_ipps-system._tcp" for f in mine):
            log("advertised through DNS-SD: " + ", ".join("%s (%s)" % (f[3].replace("\\032", " "), f[4])
                                                         for f in mine))
            return
        if time.monotonic() > deadline:
            raise Failure("the private avahi-daemon does not know the server:\n" + "\n".join(found))
        time.sleep(0.5)


def check_local_administration(driver, server):
    """What a local user gets on the pages that change the system: no login,
    the forms themselves (no auth-service, loopback client)."""
    from selenium.webdriver.common.by import By
    for path in ("/config", "/security", "/" + PRINTER + "/config", "/" + PRINTER + "/printing",
                 "/" + PRINTER + "/delete"):
        driver.get(server.url(path))
        forms = driver.find_elements(By.TAG_NAME, "form")
        if not forms:
            raise Failure("%s gives a local user no form:\n%s" % (path, driver.page_source[:1000]))
    log("administration from 127.0.0.1 without an auth-service: the forms, no login asked")


def run(args, work):
    avahi = None
    if args.avahi:
        avahi = Avahi(work)
        avahi.start()
    elif os.path.exists("/run/avahi-daemon/pid"):
        raise Failure("an avahi-daemon runs although this case is without one")
    server = Server(os.path.abspath(args.program), work)
    driver = None
    try:
        server.start()
        added = server.command("add", "-d", PRINTER, "-m", DRIVER, "-v", "file:///dev/null")
        if added.returncode != 0:
            raise Failure("add: " + added.stdout + added.stderr)
        log("server on port %d, printer %s (%s), %s avahi-daemon" % (server.port, PRINTER, DRIVER,
                                                                    "with" if avahi else "without"))
        driver = browser(work)
        paths = crawl(driver, server)
        missing = [p for p in EXPECTED_PATHS if p not in paths]
        if missing:
            raise Failure("no link leads to " + ", ".join(missing))
        if avahi is not None:
            check_advertised(server)
        check_absent_pages(server)
        check_add_printer_page(driver, server, avahi is not None)
        check_local_administration(driver, server)
        change_density(driver, server, work)
        driver.get(server.url("/" + PRINTER))
        os.makedirs(args.output, exist_ok=True)
        shot = os.path.join(os.path.abspath(args.output),
                            "printer-page%s.png" % ("-with-avahi" if avahi else "-without-avahi"))
        if not driver.save_screenshot(shot):
            raise Failure("no screenshot")
        log("screenshot of the printer page: " + shot)
        if not server.running():
            raise Failure("the server ended:\n" + server.log_tail())
    finally:
        if driver is not None:
            driver.quit()
        server.stop()
        if avahi is not None:
            avahi.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True, help="the built varkon-printer-app")
    parser.add_argument("--output", default=".", help="where the screenshot goes")
    parser.add_argument("--avahi", action="store_true", help="with a private avahi-daemon")
    parser.add_argument("--keep", action="store_true", help="keep the work directory (logs, state)")
    args = parser.parse_args()
    enter_namespace_or_skip(args)
    work = tempfile.mkdtemp(prefix="varkon-web-")
    try:
        run(args, work)
    except Failure as e:
        log("FAILED: %s" % e)
        args.keep = True
        return 1
    finally:
        if args.keep or os.environ.get("VARKON_KEEP_PRINTER_APP"):
            log("work directory kept: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    log("PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
