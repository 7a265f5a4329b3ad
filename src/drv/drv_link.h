// The drivers' and the identification's way to the instrument: the link engine's
// operations on one session. remote_main_t serves them in the program; tests put a
// scripted fake in its place so every command text can be checked without I/O.
#pragma once

#include <string>

class remote_main_t;

class drv_link_t {
public:
    virtual ~drv_link_t() = default;
    virtual int open(const std::string& resource, unsigned long& session) = 0;
    virtual int close(unsigned long session) = 0;
    virtual int write(unsigned long session, const std::string& bytes) = 0;
    virtual int read(unsigned long session, std::string& reply) = 0;
    virtual int query(unsigned long session, const std::string& command, std::string& reply) = 0;
    // 1 when the resource can be opened now, else 0.
    virtual int resource_available(const std::string& resource) = 0;
};

// Forwards to an instrument's link engine, which must outlive the adapter.
class drv_remote_link_t : public drv_link_t {
public:
    explicit drv_remote_link_t(remote_main_t& remote) : m_remote(remote) {}
    int open(const std::string& resource, unsigned long& session) override;
    int close(unsigned long session) override;
    int write(unsigned long session, const std::string& bytes) override;
    int read(unsigned long session, std::string& reply) override;
    int query(unsigned long session, const std::string& command, std::string& reply) override;
    int resource_available(const std::string& resource) override;

private:
    remote_main_t& m_remote;
};
