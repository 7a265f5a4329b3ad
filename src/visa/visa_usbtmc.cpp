#include "visa/visa_usbtmc.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace visa {

namespace fs = std::filesystem;

namespace {

constexpr int max_usbtmc_nodes = 256;
constexpr uint32_t usbtmc_min_driver_timeout_ms = 100;  // the driver refuses less

std::string env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

// First line of a small sysfs attribute file, trimmed; empty when unreadable.
std::string read_attr(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    if (line.size() > 256) line.resize(256);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

bool parse_hex(const std::string& s, unsigned max, unsigned& v) {
    if (s.empty()) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && v <= max;
}

bool iequal(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

ViStatus status_of_errno(int e) {
    switch (e) {
        case ETIMEDOUT:
            return VI_ERROR_TMO;
        case ENODEV:
        case ESHUTDOWN:
        case EPIPE:
        case ENXIO:
            return VI_ERROR_CONN_LOST;
        default:
            return VI_ERROR_IO;
    }
}

// Waits for `events` on a non-driver file; false on time-out.
ViStatus wait_fd(int fd, short events, deadline_t deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, ms_until(deadline));
        if (r > 0) return (p.revents & (POLLERR | POLLNVAL)) ? VI_ERROR_IO : VI_SUCCESS;
        if (r == 0) return VI_ERROR_TMO;
        if (errno != EINTR) return VI_ERROR_IO;
    }
}

}  // namespace

std::vector<usbtmc_device_t> usbtmc_list_devices() {
    std::vector<usbtmc_device_t> out;
    const fs::path sysfs = env_or("VELKARO_USBTMC_SYSFS_ROOT", "/sys");
    const fs::path dev = env_or("VELKARO_USBTMC_DEV_ROOT", "/dev");
    const fs::path cls = sysfs / "class" / "usbmisc";
    std::error_code ec;
    fs::directory_iterator it(cls, ec);
    if (ec) return out;
    int seen = 0;
    for (const auto& entry : it) {
        if (++seen > max_usbtmc_nodes) break;
        const std::string node = entry.path().filename().string();
        if (node.rfind("usbtmc", 0) != 0) continue;
        const fs::path intf = fs::canonical(entry.path() / "device", ec);
        if (ec) continue;
        const fs::path usb_dev = intf.parent_path();
        unsigned vendor = 0, product = 0, intf_num = 0;
        if (!parse_hex(read_attr(usb_dev / "idVendor"), 0xFFFF, vendor) ||
            !parse_hex(read_attr(usb_dev / "idProduct"), 0xFFFF, product)) {
            continue;
        }
        usbtmc_device_t d;
        d.name.manufacturer_id = static_cast<uint16_t>(vendor);
        d.name.model_code = static_cast<uint16_t>(product);
        d.name.serial = read_attr(usb_dev / "serial");
        if (d.name.serial.empty() || d.name.serial.find("::") != std::string::npos) continue;
        d.name.interface_number =
            parse_hex(read_attr(intf / "bInterfaceNumber"), 0xFF, intf_num) ? static_cast<int>(intf_num) : 0;
        d.node = (dev / node).string();
        out.push_back(std::move(d));
    }
    std::sort(out.begin(), out.end(),
              [](const usbtmc_device_t& a, const usbtmc_device_t& b) { return a.node < b.node; });
    return out;
}

ViStatus usbtmc_session_t::open(const usb_instr_name_t& name, std::unique_ptr<session_t>& out) {
    const usbtmc_device_t* match = nullptr;
    const std::vector<usbtmc_device_t> devices = usbtmc_list_devices();
    for (const auto& d : devices) {
        if (d.name.manufacturer_id == name.manufacturer_id && d.name.model_code == name.model_code &&
            iequal(d.name.serial, name.serial) &&
            (name.interface_number < 0 || name.interface_number == d.name.interface_number)) {
            match = &d;
            break;
        }
    }
    if (!match) return VI_ERROR_RSRC_NFOUND;
    std::unique_ptr<usbtmc_session_t> s(new usbtmc_session_t(name.board));
    s->m_fd = ::open(match->node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (s->m_fd < 0) return errno == EBUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    s->m_kernel_driver = s->_apply_driver_timeout();
    if (!s->m_kernel_driver) {
        const int flags = ::fcntl(s->m_fd, F_GETFL);
        if (flags < 0 || ::fcntl(s->m_fd, F_SETFL, flags | O_NONBLOCK) < 0) return VI_ERROR_IO;
    }
    out = std::move(s);
    return VI_SUCCESS;
}

void usbtmc_session_t::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool usbtmc_session_t::_apply_driver_timeout() {
    const uint64_t tmo = m_attrs.tmo_ms == VI_TMO_INFINITE ? infinite_tmo_cap_ms : m_attrs.tmo_ms;
    __u32 ms = static_cast<__u32>(std::max<uint64_t>(tmo, usbtmc_min_driver_timeout_ms));
    return ::ioctl(m_fd, USBTMC_IOCTL_SET_TIMEOUT, &ms) == 0;
}

ViStatus usbtmc_session_t::write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) {
    written = 0;
    if (m_fd < 0) return VI_ERROR_CONN_LOST;
    if (m_kernel_driver) {
        _apply_driver_timeout();
        // The driver sends the whole buffer as one message with EOM on its last transfer.
        const ssize_t n = ::write(m_fd, buf, cnt);
        if (n < 0) return status_of_errno(errno);
        written = static_cast<ViUInt32>(n);
        return written == cnt ? VI_SUCCESS : VI_ERROR_IO;
    }
    const deadline_t deadline = operation_deadline(m_attrs.tmo_ms);
    while (written < cnt) {
        const ssize_t n = ::write(m_fd, buf + written, cnt - written);
        if (n > 0) {
            written += static_cast<ViUInt32>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return status_of_errno(errno);
        const ViStatus w = wait_fd(m_fd, POLLOUT, deadline);
        if (w != VI_SUCCESS) return w;
    }
    return VI_SUCCESS;
}

ViStatus usbtmc_session_t::read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) {
    got = 0;
    if (m_fd < 0) return VI_ERROR_CONN_LOST;
    if (cnt == 0) return VI_SUCCESS_MAX_CNT;
    ssize_t n = -1;
    if (m_kernel_driver) {
        _apply_driver_timeout();
        do {
            n = ::read(m_fd, buf, cnt);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return status_of_errno(errno);
    } else {
        const deadline_t deadline = operation_deadline(m_attrs.tmo_ms);
        for (;;) {
            n = ::read(m_fd, buf, cnt);
            if (n >= 0) break;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return status_of_errno(errno);
            const ViStatus w = wait_fd(m_fd, POLLIN, deadline);
            if (w != VI_SUCCESS) return w;
        }
        if (n == 0) return VI_ERROR_CONN_LOST;  // the other end went away
    }
    got = static_cast<ViUInt32>(n);
    if (got < cnt) {
        if (m_attrs.termchar_en && got > 0 && buf[got - 1] == m_attrs.termchar) return VI_SUCCESS_TERM_CHAR;
        return VI_SUCCESS;  // a short read is the whole message
    }
    // The buffer filled: the message ended exactly here only if the driver says EOM.
    __u8 attr = 0;
    if (m_kernel_driver && ::ioctl(m_fd, USBTMC_IOCTL_MSG_IN_ATTR, &attr) == 0 && (attr & 1))
        return VI_SUCCESS;
    return VI_SUCCESS_MAX_CNT;
}

}  // namespace visa
