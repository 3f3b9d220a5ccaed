// SPDX-License-Identifier: GPL-2.0-or-later
// Writing the umockdev description and usbmon capture of an emulated printer.
#include "umockdev_printer.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace varkon::test {

namespace {

constexpr const char *kSysfsPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr uint8_t kBus = 1;
constexpr uint8_t kDevice = 2;

std::string hex(const std::vector<unsigned char> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

// Device descriptor, then one configuration with a printer-class interface
// (bidirectional) and its bulk endpoints. Vendor and product ids are ours.
std::vector<unsigned char> descriptors(bool has_serial)
{
    return {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xE7, 0xF1, 0x11, 0x0A, 0x00, 0x01,
            0x01, 0x02, static_cast<unsigned char>(has_serial ? 0x03 : 0x00), 0x01,
            0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x01,
            0x09, 0x04, 0x00, 0x00, 0x02, 0x07, 0x01, 0x02, 0x00,
            0x07, 0x05, 0x01, 0x02, 0x00, 0x02, 0x00,
            0x07, 0x05, 0x81, 0x02, 0x00, 0x02, 0x00};
}

std::string description(const EmulatedUsbPrinter &printer)
{
    return std::string("P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
                       "N: bus/usb/001/002\n"
                       "E: BUSNUM=001\n"
                       "E: DEVNAME=/dev/bus/usb/001/002\n"
                       "E: DEVNUM=002\n"
                       "E: DEVTYPE=usb_device\n"
                       "E: DRIVER=usb\n"
                       "E: MAJOR=189\n"
                       "E: MINOR=1\n"
                       "E: PRODUCT=f1e7/a11/100\n"
                       "E: SUBSYSTEM=usb\n"
                       "E: TYPE=0/0/0\n"
                       "A: bConfigurationValue=1\n"
                       "A: bDeviceClass=00\n"
                       "A: bNumConfigurations=1\n"
                       "A: busnum=1\n"
                       "H: descriptors=")
           + hex(descriptors(printer.has_serial))
           + "\n"
             "A: devnum=2\n"
             "A: idProduct=0a11\n"
             "A: idVendor=f1e7\n"
             "A: speed=480\n";
}

void put(std::string &out, const void *data, std::size_t size)
{
    out.append(static_cast<const char *>(data), size);
}
template <typename T> void put(std::string &out, T value) { put(out, &value, sizeof value); }

// One usbmon record (the 64-byte mmapped header, then the data), framed as a
// classic pcap packet.
void put_record(std::string &pcap, uint64_t id, char type, const unsigned char *setup, int32_t status,
                uint32_t length, const std::vector<unsigned char> &data)
{
    std::string record;
    put(record, id);
    put<uint8_t>(record, static_cast<uint8_t>(type));
    put<uint8_t>(record, 2);    // control transfer
    put<uint8_t>(record, 0x80); // endpoint 0, in
    put<uint8_t>(record, kDevice);
    put<uint16_t>(record, kBus);
    put<uint8_t>(record, setup ? 0 : '-');
    put<uint8_t>(record, data.empty() ? (type == 'S' ? '<' : '>') : 0);
    put<int64_t>(record, static_cast<int64_t>(id)); // timestamps: umockdev replays in order only
    put<int32_t>(record, 0);
    put<int32_t>(record, status);
    put<uint32_t>(record, length);
    put<uint32_t>(record, static_cast<uint32_t>(data.size()));
    unsigned char no_setup[8] = {};
    put(record, setup ? setup : no_setup, 8);
    put<int32_t>(record, 0);
    put<int32_t>(record, 0);
    put<uint32_t>(record, 0);
    put<uint32_t>(record, 0);
    put(record, data.data(), data.size());

    put<uint32_t>(pcap, static_cast<uint32_t>(id));
    put<uint32_t>(pcap, 0);
    put<uint32_t>(pcap, static_cast<uint32_t>(record.size()));
    put<uint32_t>(pcap, static_cast<uint32_t>(record.size()));
    pcap += record;
}

void put_control_in(std::string &pcap, uint64_t &id, const std::vector<unsigned char> &setup,
                    const std::vector<unsigned char> &reply, bool stall = false)
{
    const uint32_t length = setup[6] | (setup[7] << 8);
    ++id;
    put_record(pcap, id, 'S', setup.data(), -115 /* -EINPROGRESS */, length, {});
    put_record(pcap, id, 'C', nullptr, stall ? -32 /* -EPIPE */ : 0,
               static_cast<uint32_t>(stall ? 0 : reply.size()), stall ? std::vector<unsigned char>{} : reply);
}

// The transfers libusb makes: the language list (4 bytes asked), the serial
// string in US English (255 asked), then each status request.
std::string capture(const EmulatedUsbPrinter &printer)
{
    std::string pcap;
    put<uint32_t>(pcap, 0xa1b2c3d4);
    put<uint16_t>(pcap, 2);
    put<uint16_t>(pcap, 4);
    put<int32_t>(pcap, 0);
    put<uint32_t>(pcap, 0);
    put<uint32_t>(pcap, 65535);
    put<uint32_t>(pcap, 220); // LINKTYPE_USB_LINUX_MMAPPED

    uint64_t id = 0;
    if (!printer.pappl_device_id.empty()) {
        put_control_in(pcap, id, {0x80, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, {0x01});
        const size_t length = printer.pappl_device_id.size() + 2;
        std::vector<unsigned char> id_reply = {static_cast<unsigned char>(length >> 8),
                                               static_cast<unsigned char>(length & 0xFF)};
        id_reply.insert(id_reply.end(), printer.pappl_device_id.begin(), printer.pappl_device_id.end());
        put_control_in(pcap, id, {0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04}, id_reply);
    }
    if (printer.has_serial) {
        put_control_in(pcap, id, {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0x04, 0x00}, {0x04, 0x03, 0x09, 0x04});
        std::vector<unsigned char> serial = {static_cast<unsigned char>(2 + 2 * printer.serial.size()), 0x03};
        for (char c : printer.serial) {
            serial.push_back(static_cast<unsigned char>(c));
            serial.push_back(0);
        }
        put_control_in(pcap, id, {0x80, 0x06, 0x03, 0x03, 0x09, 0x04, 0xFF, 0x00}, serial);
    }
    const std::vector<unsigned char> status_setup = {0xC1, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                     static_cast<unsigned char>(printer.status_length & 0xFF),
                                                     static_cast<unsigned char>(printer.status_length >> 8)};
    for (const auto &answer : printer.status_answers)
        put_control_in(pcap, id, status_setup, answer.data, answer.stall);
    return pcap;
}

std::string self_path()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

ProcessResult run_under_usb_printer(const EmulatedUsbPrinter &printer, const std::vector<std::string> &command,
                                    const ProcessOptions &options)
{
    TempDir dir;
    write_file(dir.file("printer.umockdev"), description(printer));
    write_file(dir.file("printer.pcap"), capture(printer));
    ProcessOptions child = options;
    // The preload library comes before the sanitizer runtime in the child.
    child.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0");
    std::vector<std::string> argv = {"/usr/bin/umockdev-run"};
    if (printer.attached)
        argv.insert(argv.end(), {"--device", dir.file("printer.umockdev"), "--pcap",
                                 std::string(kSysfsPath) + "=" + dir.file("printer.pcap")});
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return run_process(argv, child);
}

ProcessResult run_with_usb_printer(const EmulatedUsbPrinter &printer, const std::string &probe,
                                   const ProcessOptions &options)
{
    ProcessOptions child = options;
    child.env.push_back("VARKON_USB_PROBE=" + probe);
    return run_under_usb_printer(printer, {self_path()}, child);
}

const char *usb_probe_requested()
{
    return std::getenv("VARKON_USB_PROBE");
}

} // namespace varkon::test
