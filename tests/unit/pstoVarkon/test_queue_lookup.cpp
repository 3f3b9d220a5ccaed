// SPDX-License-Identifier: GPL-2.0-or-later
// Queue lookup against the destinations of a private cupsd.
#include "queue_lookup.h"

#include "run_process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace varkon::test;

namespace {

// A cupsd of its own, on a local socket, serving the queues of `printers_conf`.
class PrivateCupsd {
public:
    explicit PrivateCupsd(const std::string &printers_conf)
    {
        const std::string root = dir_.file("root");
        for (const char *sub : {"root", "spool", "cache", "state", "log", "tmp"})
            std::filesystem::create_directory(dir_.file(sub));
        chmod(dir_.path().c_str(), 0755);
        write_file(root + "/cups-files.conf",
                   "ServerRoot " + root + "\nRequestRoot " + dir_.file("spool") + "\nCacheDir " +
                       dir_.file("cache") + "\nStateDir " + dir_.file("state") + "\nTempDir " + dir_.file("tmp") +
                       "\nErrorLog " + dir_.file("log/error_log") + "\nAccessLog " +
                       dir_.file("log/access_log") + "\nPageLog " + dir_.file("log/page_log") +
                       "\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n");
        write_file(root + "/cupsd.conf", "Listen " + socket() + "\nBrowsing Off\nLogLevel warn\n"
                                         "<Location />\nOrder allow,deny\nAllow all\n</Location>\n");
        write_file(root + "/printers.conf", printers_conf);
        pid_ = fork();
        if (pid_ == 0) {
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (root + "/cupsd.conf").c_str(), "-s",
                  (root + "/cups-files.conf").c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !std::filesystem::exists(socket()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~PrivateCupsd()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivateCupsd(const PrivateCupsd &) = delete;
    PrivateCupsd &operator=(const PrivateCupsd &) = delete;

    std::string socket() const { return dir_.file("cupsd.sock"); }
    std::string home() const { return dir_.file("home"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
};

std::string queue(const std::string &name, const std::string &device_uri)
{
    return "<Printer " + name + ">\nDeviceURI " + device_uri + "\nState Idle\nAccepting Yes\n</Printer>\n";
}

class QueueLookup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        cupsd_ = new PrivateCupsd(queue("Office_Jurvex", "socket://192.0.2.10:9100") +
                                  queue("Front Desk", "usb://Varkon/Jurvex%2021?serial=A1") +
                                  queue("Lab%20Printer", "socket://192.0.2.30"));
        ASSERT_TRUE(std::filesystem::exists(cupsd_->socket()));
        // An instance of a queue with a device of its own, which must never be taken.
        std::filesystem::create_directories(cupsd_->home() + "/.cups");
        write_file(cupsd_->home() + "/.cups/lpoptions", "Dest Office_Jurvex/copy device-uri=usb://instance\n");
        setenv("CUPS_SERVER", cupsd_->socket().c_str(), 1);
        setenv("HOME", cupsd_->home().c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete cupsd_;
        cupsd_ = nullptr;
    }

    struct Found {
        std::string uri, model;
    };
    static Found lookup(const char *name)
    {
        char uri[kQueueValueField] = {}, model[kQueueValueField] = {};
        EXPECT_EQ(getPrinter_optiopns(name, uri, model), 0);
        return {uri, model};
    }

    static PrivateCupsd *cupsd_;
};

PrivateCupsd *QueueLookup::cupsd_ = nullptr;

TEST_F(QueueLookup, QueueNameMatchesInAnyLetterCase)
{
    EXPECT_EQ(lookup("Office_Jurvex").uri, "socket://192.0.2.10:9100");
    const Found upper = lookup("OFFICE_JURVEX");
    EXPECT_EQ(upper.uri, "socket://192.0.2.10:9100");
    EXPECT_FALSE(upper.model.empty());
}

TEST_F(QueueLookup, EscapedUriSegmentsAreDecodedOnce)
{
    EXPECT_EQ(lookup("front desk").uri, "usb://Varkon/Jurvex%2021?serial=A1");
    // The escape in a queue's own name stays an escape after one decoding.
    EXPECT_EQ(lookup("Lab%20Printer").uri, "socket://192.0.2.30");
    EXPECT_EQ(lookup("Lab Printer").uri, "");
}

TEST_F(QueueLookup, UnknownQueueLeavesTheOutputsEmpty)
{
    const Found none = lookup("Office");
    EXPECT_EQ(none.uri, "");
    EXPECT_EQ(none.model, "");
    EXPECT_EQ(getPrinter_optiopns(nullptr, nullptr, nullptr), 0);
}

TEST(StrToLower, LowersEveryCharacterAndWritesNoTerminator)
{
    char target[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', '\0'};
    strToLower("AbC-9", target);
    EXPECT_STREQ(target, "abc-9xx");
    strToLower(nullptr, target);
    strToLower("A", nullptr);
    EXPECT_STREQ(target, "abc-9xx");
}

} // namespace
