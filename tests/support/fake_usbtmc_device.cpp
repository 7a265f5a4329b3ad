#include "fake_usbtmc_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace velkaro_test {

namespace fs = std::filesystem;

namespace {

constexpr const char* vendor_id = "1ab1";
constexpr const char* product_id = "0e11";
// A raw-mode terminal hands a reader at most this much at once (the line discipline's buffer).
constexpr std::size_t max_piece = 4095;

bool write_all(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    for (int tries = 0; done < size && tries < 1000; ++tries) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        } else {
            ::usleep(1000);
        }
    }
    return done == size;
}

}  // namespace

fake_usbtmc_device_t::fake_usbtmc_device_t(const std::string& serial, const std::string& address, int port,
                                           long unplug_after)
    : m_serial(serial), m_unplug_after(unplug_after) {
    char tmpl[] = "/tmp/velkaro_usb_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return;
    m_root = tmpl;

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
    const char* slave_name = ::ptsname(m_master);
    if (slave_name == nullptr) return;
    const std::string slave_path = slave_name;
    m_slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) return;
    termios t{};
    if (::tcgetattr(m_slave, &t) != 0) return;
    ::cfmakeraw(&t);
    if (::tcsetattr(m_slave, TCSANOW, &t) != 0) return;

    // The tree the VISA layer reads: the class entry points at the interface, whose
    // parent is the USB device with its ids and serial number.
    std::error_code ec;
    const fs::path usb = fs::path(m_root) / "sys/devices/usb1/1-1";
    const fs::path iface = usb / "1-1:1.0";
    fs::create_directories(iface, ec);
    std::ofstream(usb / "idVendor") << vendor_id << "\n";
    std::ofstream(usb / "idProduct") << product_id << "\n";
    std::ofstream(usb / "serial") << serial << "\n";
    std::ofstream(iface / "bInterfaceNumber") << "00\n";
    const fs::path cls = fs::path(m_root) / "sys/class/usbmisc/usbtmc0";
    fs::create_directories(cls, ec);
    fs::create_directory_symlink(iface, cls / "device", ec);
    if (ec) return;
    fs::create_directories(fs::path(m_root) / "dev", ec);
    fs::create_symlink(slave_path, fs::path(m_root) / "dev/usbtmc0", ec);
    if (ec) return;

    m_upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (m_upstream < 0 || ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::connect(m_upstream, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return;
    m_ok = true;
    m_thread = std::thread([this] { _relay(); });
}

fake_usbtmc_device_t::~fake_usbtmc_device_t() {
    m_quit = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_tree_used) {
        ::unsetenv("VELKARO_USBTMC_SYSFS_ROOT");
        ::unsetenv("VELKARO_USBTMC_DEV_ROOT");
    }
    for (int fd : {m_master, m_slave, m_upstream})
        if (fd >= 0) ::close(fd);
    std::error_code ec;
    if (!m_root.empty()) fs::remove_all(m_root, ec);
}

void fake_usbtmc_device_t::use_tree() {
    m_tree_used = true;
    ::setenv("VELKARO_USBTMC_SYSFS_ROOT", (m_root + "/sys").c_str(), 1);
    ::setenv("VELKARO_USBTMC_DEV_ROOT", (m_root + "/dev").c_str(), 1);
}

std::string fake_usbtmc_device_t::resource() const {
    return std::string("USB0::0x") + "1AB1" + "::0x" + "0E11" + "::" + m_serial + "::INSTR";
}

void fake_usbtmc_device_t::_unplug() {
    std::error_code ec;
    fs::remove_all(fs::path(m_root) / "sys/class/usbmisc/usbtmc0", ec);
    fs::remove(fs::path(m_root) / "dev/usbtmc0", ec);
    ::close(m_master);
    m_master = -1;
    ::close(m_slave);
    m_slave = -1;
    m_unplugged = true;
}

void fake_usbtmc_device_t::_relay() {
    std::string from_program;
    std::string from_instrument;
    // Bounded: the owner stops it, and no test runs ten minutes.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!m_quit && !m_unplugged && std::chrono::steady_clock::now() < give_up) {
        pollfd p[2] = {{m_master, POLLIN, 0}, {m_upstream, POLLIN, 0}};
        if (::poll(p, 2, 50) <= 0) continue;
        char buf[65536];
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) from_program.append(buf, static_cast<std::size_t>(n));
            for (std::size_t end; (end = from_program.find('\n')) != std::string::npos;) {
                const long count = ++m_commands;
                if (m_unplug_after > 0 && count >= m_unplug_after) {
                    _unplug();
                    return;
                }
                if (!write_all(m_upstream, from_program.data(), end + 1)) return;
                from_program.erase(0, end + 1);
            }
        }
        if (p[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(m_upstream, buf, sizeof buf);
            if (n <= 0) return;  // the simulator went away: the device stays plugged in but mute
            from_instrument.append(buf, static_cast<std::size_t>(n));
            // Each whole reply line in one write: the node's reader sees one message.
            for (std::size_t end; (end = from_instrument.find('\n')) != std::string::npos;) {
                if (end + 1 > max_piece) ++m_split_replies;
                if (!write_all(m_master, from_instrument.data(), end + 1)) return;
                from_instrument.erase(0, end + 1);
            }
        }
    }
}

}  // namespace velkaro_test
