// USBTMC through the Linux kernel driver: devices are found in sysfs
// (<sysfs root>/class/usbmisc/usbtmcN/device is the USB interface; its parent, the
// USB device, holds idVendor, idProduct and serial) and opened as <dev root>/usbtmcN.
// The roots come from VELKARO_USBTMC_SYSFS_ROOT and VELKARO_USBTMC_DEV_ROOT (default
// /sys and /dev), read at each call so tests can point them at a fake tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "visa/visa_rsrc_name.h"
#include "visa/visa_session.h"

namespace visa {

struct usbtmc_device_t {
    usb_instr_name_t name;  // board 0
    std::string node;       // path of the character device
};

// Bounded scan (at most 256 nodes); devices with unreadable ids are skipped.
std::vector<usbtmc_device_t> usbtmc_list_devices();

class usbtmc_session_t final : public session_t {
public:
    static ViStatus open(const usb_instr_name_t& name, std::unique_ptr<session_t>& out);
    ~usbtmc_session_t() override { close(); }

    ViStatus write(const ViByte* buf, ViUInt32 cnt, ViUInt32& written) override;
    ViStatus read(ViByte* buf, ViUInt32 cnt, ViUInt32& got) override;
    void close() override;

private:
    explicit usbtmc_session_t(uint16_t board) : session_t(VI_INTF_USB, board) {}
    bool _apply_driver_timeout();

    int m_fd = -1;
    // The kernel driver blocks in read()/write() up to its own time-out, set per
    // call by ioctl; any other file (a test stand-in) is driven by poll() deadlines.
    bool m_kernel_driver = false;
};

}  // namespace visa
