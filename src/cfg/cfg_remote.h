// The identity of one instrument: its model and resource, the VISA session, and the
// identification strings. connect() opens the session, checks that the instrument
// really is the chosen model, resets it and hands over to the configuration, which
// then sends its whole stored configuration.
//
// Threads: connect() may run on a worker thread (the GUI does not wait for a slow
// instrument) while the GUI reads the connection record and the identification.
// m_state_mutex guards every field below it in the class; it is never held during I/O.
// connect() and reconnect() are called by one thread at a time (the device item queues
// connects; the reconnection supervisor runs only while the link is lost).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "drv/drv_link.h"
#include "drv/if/drv_if.h"

// Connection record, copied as a whole when the user changes the address.
struct cfg_remote_info_t {
    std::string resource;
    bool available = false;  // the resource could be opened at the last attempt
    bool connected = false;  // a session is open
    int session = 0;         // VISA session, 0 when not connected
};

// The four fields of an "*IDN?" reply.
struct cfg_identity_t {
    std::string manufacturer;
    std::string product_type;
    std::string serial_number;
    std::string software_version;
};

// Splits an "*IDN?" reply at its first three commas. When a comma is missing, that
// field takes all the remaining text and the fields after it see the same text.
// The version loses its final "\n" (only a line feed: a reply cut short keeps its
// last character).
cfg_identity_t cfg_parse_identification(std::string_view reply);

class cfg_remote_t {
public:
    // Results of connect().
    static constexpr int result_ok = 0;
    static constexpr int result_visa_failed = 1;        // VISA open or close failed
    static constexpr int result_not_connected = 2;      // close while not connected
    static constexpr int result_already_connected = 3;  // open while connected
    static constexpr int result_not_the_model = 4;      // identification failed or another model

    // Why the last connect(1) gave result_not_the_model: the instrument answered as
    // another model, or it never gave a readable identification at all.
    enum identify_failure_t {
        identify_other_model = 0,
        identify_no_reply = 1,    // the "*IDN?" query failed: identify_status() says how
        identify_unreadable = 2,  // a reply, but garbled or cut short
    };

    // Sends the stored measurement configuration after a connect (the driver's
    // apply_cfg_map, then set_function of the current function).
    using config_transfer_t = std::function<void(drv_if_t&)>;

    // `link` and `driver` must outlive this object. `model` must not be empty.
    cfg_remote_t(drv_link_t* link, drv_if_t* driver, const std::string& model, const std::string& resource);
    cfg_remote_t(const cfg_remote_t&) = delete;
    cfg_remote_t& operator=(const cfg_remote_t&) = delete;

    // op 1 opens and identifies; any other value closes. Returns result_*.
    int connect(int op);
    // 0 when already connected; otherwise connect(1) for op 1, and 1 for any other op.
    int connect_if_needed(int op);

    void set_config_transfer(config_transfer_t transfer) { m_config_transfer = std::move(transfer); }

    // After a lost link: closes the dead session, opens a new one and asks "*IDN?", without
    // resetting the instrument or sending any setting (it may still be measuring).
    // result_ok when the same instrument answers (maker, model and serial number as at
    // the connect), result_not_the_model when another one does (`found` says which; the
    // new session is closed again), result_visa_failed when nothing readable answers yet.
    int reconnect(cfg_identity_t& found);
    // Sends the stored configuration again, as after a connect but without "*RST".
    void restore_configuration();

    void set_model(const std::string& model);
    std::string get_model() const;
    void set_info(const cfg_remote_info_t& info);
    cfg_remote_info_t get_info() const;

    identify_failure_t identify_failure() const;
    // VISA status of the last "*IDN?" query (0 when it succeeded).
    int identify_status() const;
    // VISA status of the last open of the session (0 when it succeeded).
    int open_status() const;

    std::string get_manufacturer() const;
    std::string get_product_type() const;
    std::string get_serial_number() const;
    std::string get_software_version() const;
    // What the instrument said of itself at the last open, whether or not it was the
    // chosen model (empty fields when it never answered): tells the user which meter
    // is really at the address.
    cfg_identity_t found_identity() const;
    // The instrument's private model name read at the last open ("" when not read).
    std::string found_private_model() const;

private:
    int _open();
    int _close();
    // The instrument's private model name must begin with the chosen model.
    bool _check_device_model_match(std::string& private_name) const;
    // A well-formed "*IDN?" reply (another model's still is one).
    static bool _readable_identification(std::string_view reply);
    // After a failed open or close: probe the resource and clear the connection.
    int _connection_failed();

    drv_link_t* m_plink = nullptr;
    drv_if_t* m_pdrv = nullptr;
    config_transfer_t m_config_transfer;

    mutable std::mutex m_state_mutex;
    identify_failure_t m_identify_failure = identify_other_model;
    int m_identify_status = 0;
    int m_open_status = 0;

    std::string m_model;
    std::string m_resource;
    bool m_available = false;
    bool m_connected = false;
    unsigned long m_session = 0;

    std::string m_manufacturer;
    std::string m_product_type;
    std::string m_serial_number;
    std::string m_software_version;
    cfg_identity_t m_found_identity;
    std::string m_found_private_model;
};
