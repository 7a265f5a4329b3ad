// A USB instrument on a fake USBTMC tree, for tests without hardware: the VISA layer
// finds it through a fake sysfs (VELKARO_USBTMC_SYSFS_ROOT) and opens its device node
// (VELKARO_USBTMC_DEV_ROOT), which is the slave side of a pseudo-terminal in raw mode.
// The master side relays to a simulator's raw socket: commands go as written, and each
// reply line comes back in one piece, as one USBTMC message would. Unplugging closes the
// master (reads on the node then end, writes fail) and removes the device from sysfs and
// /dev, as the kernel does when the cable is pulled.
// Threads: one relay thread owns the descriptors; the test thread only reads the atomics.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace velkaro_test {

class fake_usbtmc_device_t {
public:
    // Relays to the raw socket at address:port. Unplugs itself when the program sends
    // its `unplug_after`th command (0: never); that command is not passed on.
    fake_usbtmc_device_t(const std::string& serial, const std::string& address, int port,
                         long unplug_after = 0);
    ~fake_usbtmc_device_t();
    fake_usbtmc_device_t(const fake_usbtmc_device_t&) = delete;
    fake_usbtmc_device_t& operator=(const fake_usbtmc_device_t&) = delete;

    bool ok() const { return m_ok; }
    // Points the VISA layer of this process (and its children) at the fake tree, until
    // this device is destroyed.
    void use_tree();
    std::string resource() const;  // "USB0::0x1AB1::0x0E11::<serial>::INSTR"
    long commands() const { return m_commands.load(); }
    bool unplugged() const { return m_unplugged.load(); }
    // Reply lines longer than one read of the node can hold (they would arrive in pieces).
    long split_replies() const { return m_split_replies.load(); }

private:
    void _relay();
    void _unplug();

    std::string m_root;
    std::string m_serial;
    long m_unplug_after;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up between sessions
    int m_upstream = -1;
    bool m_ok = false;
    bool m_tree_used = false;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_unplugged{false};
    std::atomic<long> m_commands{0};
    std::atomic<long> m_split_replies{0};
    std::thread m_thread;
};

}  // namespace velkaro_test
