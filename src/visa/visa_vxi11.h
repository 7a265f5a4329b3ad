// VXI-11 core channel (DEVICE_CORE program): one typed call per procedure. The
// argument encoders and result decoders work on byte buffers (tested and fuzzed
// without sockets); vxi11_core_client_t sends them over an rpc_client_t.
#pragma once

#include <cstdint>
#include <string>

#include "visa/visa_rpc.h"

namespace visa {

constexpr uint32_t vxi11_core_program = 0x0607AF;
constexpr uint32_t vxi11_core_version = 1;

enum vxi11_proc_t : uint32_t {
    vxi11_proc_create_link = 10,
    vxi11_proc_device_write = 11,
    vxi11_proc_device_read = 12,
    vxi11_proc_device_clear = 15,
    vxi11_proc_destroy_link = 23,
};

// Operation flags.
constexpr int32_t vxi11_flag_waitlock = 0x01;
constexpr int32_t vxi11_flag_end = 0x08;
constexpr int32_t vxi11_flag_termchrset = 0x80;

// Read reasons (OR-ed); 0 means more data follows.
constexpr int32_t vxi11_reason_reqcnt = 0x01;
constexpr int32_t vxi11_reason_chr = 0x02;
constexpr int32_t vxi11_reason_end = 0x04;

// Device errors.
enum vxi11_error_t : int32_t {
    vxi11_err_none = 0,
    vxi11_err_syntax = 1,
    vxi11_err_not_accessible = 3,
    vxi11_err_invalid_link = 4,
    vxi11_err_parameter = 5,
    vxi11_err_no_channel = 6,
    vxi11_err_not_supported = 8,
    vxi11_err_out_of_resources = 9,
    vxi11_err_locked = 11,
    vxi11_err_no_lock = 12,
    vxi11_err_io_timeout = 15,
    vxi11_err_io = 17,
    vxi11_err_abort = 23,
    vxi11_err_channel_established = 29,
};

// Largest opaque we accept in a device_read reply; our requests never ask more.
constexpr uint32_t vxi11_max_read_data = 16U * 1024U * 1024U;

struct vxi11_create_link_args_t {
    int32_t client_id = 0;
    bool lock_device = false;
    uint32_t lock_timeout = 0;
    std::string device = "inst0";
};
struct vxi11_create_link_resp_t {
    int32_t error = 0;
    int32_t lid = 0;
    uint32_t abort_port = 0;
    uint32_t max_recv_size = 0;
};
struct vxi11_write_args_t {
    int32_t lid = 0;
    uint32_t io_timeout = 0;
    uint32_t lock_timeout = 0;
    int32_t flags = 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};
struct vxi11_write_resp_t {
    int32_t error = 0;
    uint32_t size = 0;
};
struct vxi11_read_args_t {
    int32_t lid = 0;
    uint32_t request_size = 0;
    uint32_t io_timeout = 0;
    uint32_t lock_timeout = 0;
    int32_t flags = 0;
    uint8_t term_char = 0;
};
struct vxi11_read_resp_t {
    int32_t error = 0;
    int32_t reason = 0;
    byte_vector_t data;
};
struct vxi11_generic_args_t {
    int32_t lid = 0;
    int32_t flags = 0;
    uint32_t lock_timeout = 0;
    uint32_t io_timeout = 0;
};

byte_vector_t vxi11_encode(const vxi11_create_link_args_t& a);
byte_vector_t vxi11_encode(const vxi11_write_args_t& a);
byte_vector_t vxi11_encode(const vxi11_read_args_t& a);
byte_vector_t vxi11_encode(const vxi11_generic_args_t& a);
byte_vector_t vxi11_encode_link_id(int32_t lid);

bool vxi11_decode(const uint8_t* data, size_t size, vxi11_create_link_resp_t& r);
bool vxi11_decode(const uint8_t* data, size_t size, vxi11_write_resp_t& r);
bool vxi11_decode(const uint8_t* data, size_t size, vxi11_read_resp_t& r,
                  uint32_t max_data = vxi11_max_read_data);
// device_clear and destroy_link return a lone error.
bool vxi11_decode_error(const uint8_t* data, size_t size, int32_t& error);

class vxi11_core_client_t {
public:
    vxi11_core_client_t() : m_rpc(vxi11_core_program, vxi11_core_version) {}

    rpc_status_t connect(const std::string& host, uint16_t port, deadline_t deadline) {
        return m_rpc.connect(host, port, deadline);
    }
    rpc_status_t create_link(const vxi11_create_link_args_t& a, vxi11_create_link_resp_t& r,
                             deadline_t deadline);
    rpc_status_t device_write(const vxi11_write_args_t& a, vxi11_write_resp_t& r, deadline_t deadline);
    rpc_status_t device_read(const vxi11_read_args_t& a, vxi11_read_resp_t& r, deadline_t deadline);
    rpc_status_t device_clear(const vxi11_generic_args_t& a, int32_t& error, deadline_t deadline);
    rpc_status_t destroy_link(int32_t lid, int32_t& error, deadline_t deadline);
    bool is_connected() const { return m_rpc.is_connected(); }
    void close() { m_rpc.close(); }

private:
    template <typename resp_t>
    rpc_status_t _call(uint32_t proc, const byte_vector_t& args, resp_t& r, deadline_t deadline);
    rpc_status_t _call_error(uint32_t proc, const byte_vector_t& args, int32_t& error, deadline_t deadline);

    rpc_client_t m_rpc;
};

}  // namespace visa
