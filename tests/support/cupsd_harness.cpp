// SPDX-License-Identifier: GPL-2.0-or-later
// Private cupsd for integration tests: builds the scheduler's tree from the
// system's CUPS programs plus this build's filters, backend and PPDs, runs
// cupsd in the foreground as a child process, and talks IPP to it to follow jobs.
#include "cupsd_harness.h"

#include <cups/cups.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace varkon::test {

namespace {

constexpr char kSystemServerBin[] = "/usr/lib/cups";
constexpr char kSystemDataDir[] = "/usr/share/cups";
constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr int kStartAttempts = 5;
constexpr int kStopGraceMs = 10000;

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void make_dir(const std::string &path)
{
    fs::create_directories(path);
    fs::permissions(path, fs::perms(0755));
}

// The scheduler runs filters as user lp: they must reach everything below the root.
std::string make_root()
{
    std::string templ = "/tmp/varkon-cupsd-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("cupsd harness: mkdtemp failed");
    fs::permissions(templ, fs::perms(0755));
    return templ;
}

void link_entries(const std::string &from_dir, const std::string &to_dir, const std::vector<std::string> &skip = {})
{
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(from_dir, ec)) {
        const std::string name = entry.path().filename().string();
        bool skipped = false;
        for (const auto &s : skip)
            skipped = skipped || s == name;
        if (!skipped)
            fs::create_symlink(entry.path(), to_dir + "/" + name);
    }
}

// cupsd refuses programs that are group- or world-writable or not owned by root.
void install_program(const std::string &program, const std::string &dir, fs::perms mode)
{
    const std::string target = dir + "/" + fs::path(program).filename().string();
    std::error_code ec;
    fs::remove(target, ec);
    fs::copy_file(program, target);
    fs::permissions(target, mode);
}

int free_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("cupsd harness: no free port");
    }
    close(fd);
    return ntohs(addr.sin_port);
}

bool port_answers(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string percent_encode(const std::string &text, bool keep_slash)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (keep_slash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string find_client(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return name;
    for (const char *dir : {"/usr/bin/", "/usr/sbin/"}) {
        const std::string path = dir + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return name;
}

// Model name -> PPD file name, from the index the PPD generator writes.
std::string generated_ppd_file(const std::string &model_name)
{
    std::ifstream index(std::string(VARKON_BINARY_DIR) + "/drv/varkon-ppds.tsv");
    std::string line;
    while (std::getline(index, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos && line.compare(0, tab, model_name) == 0 && tab == model_name.size())
            return line.substr(tab + 1);
    }
    return "";
}

std::string attribute_text(ipp_t *response, const char *name)
{
    ipp_attribute_t *attr = ippFindAttribute(response, name, IPP_TAG_ZERO);
    std::string text;
    for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i) {
        if (i > 0)
            text += ',';
        const char *value = ippGetString(attr, i, nullptr);
        text += value != nullptr ? value : "";
    }
    return text;
}

} // namespace

CupsdConfig varkon_cupsd_config()
{
    CupsdConfig config;
    for (const char *filter : {"rastertoVarkon/rastertoVarkon", "pstoVarkon/pstoVarkon"})
        if (access(built_program(filter).c_str(), X_OK) == 0)
            config.filters.push_back(built_program(filter));
    config.backends.push_back(built_program("tests/backend/varkontest"));
    config.ppd_dirs.push_back(std::string(VARKON_BINARY_DIR) + "/drv/ppd");
    return config;
}

std::string varkontest_uri(const std::string &output, const std::string &device_id)
{
    std::string uri = "varkontest:" + percent_encode(output, true);
    if (!device_id.empty())
        uri += "?device-id=" + percent_encode(device_id, false);
    return uri;
}

std::string varkon_ppd_name(const std::string &model_name)
{
    const std::string file = generated_ppd_file(model_name);
    return file.empty() ? "" : "varkon/" + file;
}

std::string varkon_ppd_path(const std::string &model_name)
{
    const std::string file = generated_ppd_file(model_name);
    return file.empty() ? "" : std::string(VARKON_BINARY_DIR) + "/drv/ppd/" + file;
}

CupsdHarness::CupsdHarness(const CupsdConfig &config) : root_(make_root())
{
    std::string why;
    try {
        build_tree(config);
        for (int attempt = 0; attempt < kStartAttempts; ++attempt)
            if (start(config, &why))
                return;
    } catch (const std::exception &e) {
        why = e.what();
    }
    stop();
    std::error_code ec;
    fs::remove_all(root_, ec);
    throw std::runtime_error("cupsd harness: cupsd did not start: " + why);
}

CupsdHarness::~CupsdHarness()
{
    stop();
    const char *keep = std::getenv("VARKON_KEEP_CUPSD");
    if (keep != nullptr && *keep != '\0' && std::strcmp(keep, "0") != 0) {
        std::fprintf(stderr, "cupsd harness: tree kept in %s\n", root_.c_str());
        return;
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void CupsdHarness::build_tree(const CupsdConfig &config)
{
    for (const char *dir : {"/etc", "/spool/tmp", "/cache", "/state", "/log", "/bin/filter", "/bin/backend",
                            "/bin/driver", "/share/model/varkon"})
        make_dir(root_ + dir);

    // No drivers: the system's driverless one would browse the network on lpinfo -m.
    for (const char *dir : {"cgi-bin", "daemon", "notifier", "monitor"})
        if (fs::exists(std::string(kSystemServerBin) + "/" + dir))
            fs::create_symlink(std::string(kSystemServerBin) + "/" + dir, server_bin() + "/" + dir);
    link_entries(std::string(kSystemServerBin) + "/filter", server_bin() + "/filter");
    for (const auto &filter : config.filters)
        install_program(filter, server_bin() + "/filter", fs::perms(0755));
    for (const auto &name : config.system_backends)
        fs::create_symlink(std::string(kSystemServerBin) + "/backend/" + name, server_bin() + "/backend/" + name);
    for (const auto &backend : config.backends)
        install_program(backend, server_bin() + "/backend", fs::perms(0700));

    link_entries(kSystemDataDir, root_ + "/share", {"model"});
    for (const auto &dir : config.ppd_dirs) {
        for (const auto &entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() != ".ppd")
                continue;
            const std::string target = model_dir() + "/" + entry.path().filename().string();
            fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
            fs::permissions(target, fs::perms(0644));
        }
    }
}

void CupsdHarness::write_config(const CupsdConfig &config) const
{
    std::ofstream cupsd(root_ + "/etc/cupsd.conf", std::ios::trunc);
    cupsd << "LogLevel " << config.log_level << "\n"
          << "MaxLogSize 0\n"
          << "Listen 127.0.0.1:" << port_ << "\n"
          << "Browsing Off\n"
          << "WebInterface No\n"
          // A failing job ends as aborted instead of stopping the queue for the next test.
          << "ErrorPolicy abort-job\n"
          << "PreserveJobHistory Yes\n"
          // Keep each PPD's own default page size.
          << "DefaultPaperSize None\n"
          << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
          << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

    std::ofstream files(root_ + "/etc/cups-files.conf", std::ios::trunc);
    files << "ServerRoot " << root_ << "/etc\n"
          << "RequestRoot " << root_ << "/spool\n"
          << "TempDir " << root_ << "/spool/tmp\n"
          << "CacheDir " << root_ << "/cache\n"
          << "StateDir " << root_ << "/state\n"
          << "DataDir " << root_ << "/share\n"
          << "ServerBin " << server_bin() << "\n"
          << "DocumentRoot " << kSystemDataDir << "/doc-root\n"
          << "AccessLog " << root_ << "/log/access_log\n"
          << "ErrorLog " << error_log_path() << "\n"
          << "PageLog " << root_ << "/log/page_log\n"
          << "Printcap " << root_ << "/etc/printcap\n"
          << "ServerKeychain " << root_ << "/etc/ssl\n"
          << "FileDevice Yes\n"
          << "SystemGroup root\n";
    if (!cupsd || !files)
        throw std::runtime_error("cupsd harness: cannot write the configuration");
}

bool CupsdHarness::start(const CupsdConfig &config, std::string *why)
{
    port_ = free_port();
    write_config(config);
    const std::string out = root_ + "/log/cupsd.out";
    const std::string conf = root_ + "/etc/cupsd.conf", files = root_ + "/etc/cups-files.conf";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cupsd harness: fork failed");
    if (pid == 0) {
        // Its own process group, so that a stuck scheduler and its children
        // can be killed together, and gone if the test process dies first.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execl(kCupsd, kCupsd, "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    pid_ = pid;

    const auto begin = Clock::now();
    while (ms_since(begin) < config.start_timeout_ms) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *why = read_file(out) + read_file(error_log_path());
            return false;
        }
        if (port_answers(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *why = "no answer on port " + std::to_string(port_) + "\n" + read_file(error_log_path());
    stop();
    return false;
}

void CupsdHarness::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    const auto begin = Clock::now();
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (ms_since(begin) > kStopGraceMs) {
            kill(-pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
}

std::string CupsdHarness::server() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> CupsdHarness::environment() const
{
    return {"CUPS_SERVER=" + server(), "CUPS_SERVERBIN=" + server_bin(), "CUPS_DATADIR=" + root_ + "/share"};
}

ProcessResult CupsdHarness::run(const std::vector<std::string> &argv, ProcessOptions options) const
{
    std::vector<std::string> args = argv;
    if (!args.empty())
        args[0] = find_client(args[0]);
    for (const auto &entry : environment())
        options.env.push_back(entry);
    return run_process(args, options);
}

namespace {

size_t count_of(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

} // namespace

// lpadmin -m everywhere returns as soon as the queue exists; cupsd then asks
// the printer for its attributes and writes the queue's PPD on a thread of
// its own, and a job queued before that PPD is loaded cannot be converted.
// The scheduler logs the end of that thread, one way or the other.
bool CupsdHarness::wait_for_generated_ppd(const std::string &queue, size_t before, int timeout_ms,
                                          std::string *why) const
{
    const std::string ready = "Printer \"" + queue + "\" is now available.";
    const std::string failed = queue + ": Unable to create PPD";
    const auto begin = Clock::now();
    while (ms_since(begin) < timeout_ms) {
        const std::string log = error_log();
        if (log.find(failed) != std::string::npos) {
            *why = "cupsd could not make the PPD of " + queue + ":\n" + log;
            return false;
        }
        if (count_of(log, ready) > before)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *why = "cupsd did not finish the PPD of " + queue + " within " + std::to_string(timeout_ms) + " ms:\n" +
           error_log();
    return false;
}

ProcessResult CupsdHarness::add_queue(const std::string &queue, const std::string &device_uri,
                                      const std::string &model, const std::vector<std::string> &options) const
{
    const bool ppd_file = !model.empty() && model[0] == '/';
    std::vector<std::string> argv = {"lpadmin", "-p", queue, "-E", "-v", device_uri, ppd_file ? "-P" : "-m", model};
    for (const auto &option : options) {
        argv.push_back("-o");
        argv.push_back(option);
    }
    const bool generated = model == "everywhere";
    const size_t before = generated ? count_of(error_log(), "Printer \"" + queue + "\" is now available.") : 0;
    ProcessResult result = run(argv);
    std::string why;
    if (result.exit_code == 0 && generated && !wait_for_generated_ppd(queue, before, 60000, &why)) {
        result.exit_code = 1;
        result.err += why;
    }
    return result;
}

int CupsdHarness::submit(const std::string &queue, const std::string &file, const std::vector<std::string> &options,
                         std::string *error) const
{
    std::vector<std::string> argv = {"lp", "-d", queue};
    for (const auto &option : options) {
        argv.push_back("-o");
        argv.push_back(option);
    }
    argv.push_back(file);
    const ProcessResult result = run(argv);
    // "request id is <queue>-<id> (1 file(s))"
    const std::string marker = "request id is " + queue + "-";
    const size_t at = result.out.find(marker);
    if (result.exit_code != 0 || at == std::string::npos) {
        if (error != nullptr)
            *error = result.out + result.err;
        return -1;
    }
    return std::atoi(result.out.c_str() + at + marker.size());
}

JobOutcome CupsdHarness::wait_for_job(int job_id, int timeout_ms) const
{
    JobOutcome outcome;
    http_t *http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (http == nullptr) {
        outcome.state = "no connection";
        return outcome;
    }
    const std::string job_uri = "ipp://127.0.0.1:" + std::to_string(port_) + "/jobs/" + std::to_string(job_id);
    static const char *const wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
    const auto begin = Clock::now();
    outcome.state = "timeout";
    while (ms_since(begin) < timeout_ms) {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, job_uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
        ipp_t *response = cupsDoRequest(http, request, "/jobs/");
        const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
        outcome.reasons = attribute_text(response, "job-state-reasons");
        outcome.message = attribute_text(response, "job-printer-state-message");
        ippDelete(response);
        if (state >= IPP_JSTATE_CANCELED) {
            outcome.state = ippEnumString("job-state", state);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    httpClose(http);
    return outcome;
}

std::string CupsdHarness::error_log() const { return read_file(error_log_path()); }

std::string CupsdHarness::job_log(int job_id) const
{
    const std::string tag = "[Job " + std::to_string(job_id) + "]";
    std::istringstream log(error_log());
    std::string line, lines;
    while (std::getline(log, line))
        if (line.find(tag) != std::string::npos)
            lines += line + "\n";
    return lines;
}

} // namespace varkon::test
