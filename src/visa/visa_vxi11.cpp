#include "visa/visa_vxi11.h"

namespace visa {

namespace {
// create_link's device name is short ("inst0", "gpib0,5"); refuse absurd ones.
constexpr size_t max_device_name = 256;
}  // namespace

byte_vector_t vxi11_encode(const vxi11_create_link_args_t& a) {
    byte_vector_t out;
    xdr_writer_t w(out);
    w.put_i32(a.client_id);
    w.put_bool(a.lock_device);
    w.put_u32(a.lock_timeout);
    w.put_string(a.device.substr(0, max_device_name));
    return out;
}

byte_vector_t vxi11_encode(const vxi11_write_args_t& a) {
    byte_vector_t out;
    out.reserve(24 + a.size);
    xdr_writer_t w(out);
    w.put_i32(a.lid);
    w.put_u32(a.io_timeout);
    w.put_u32(a.lock_timeout);
    w.put_i32(a.flags);
    w.put_opaque(a.data, a.size);
    return out;
}

byte_vector_t vxi11_encode(const vxi11_read_args_t& a) {
    byte_vector_t out;
    xdr_writer_t w(out);
    w.put_i32(a.lid);
    w.put_u32(a.request_size);
    w.put_u32(a.io_timeout);
    w.put_u32(a.lock_timeout);
    w.put_i32(a.flags);
    w.put_u32(a.term_char);
    return out;
}

byte_vector_t vxi11_encode(const vxi11_generic_args_t& a) {
    byte_vector_t out;
    xdr_writer_t w(out);
    w.put_i32(a.lid);
    w.put_i32(a.flags);
    w.put_u32(a.lock_timeout);
    w.put_u32(a.io_timeout);
    return out;
}

byte_vector_t vxi11_encode_link_id(int32_t lid) {
    byte_vector_t out;
    xdr_writer_t(out).put_i32(lid);
    return out;
}

bool vxi11_decode(const uint8_t* data, size_t size, vxi11_create_link_resp_t& r) {
    xdr_reader_t x(data, size);
    return x.get_i32(r.error) && x.get_i32(r.lid) && x.get_u32(r.abort_port) && x.get_u32(r.max_recv_size);
}

bool vxi11_decode(const uint8_t* data, size_t size, vxi11_write_resp_t& r) {
    xdr_reader_t x(data, size);
    return x.get_i32(r.error) && x.get_u32(r.size);
}

bool vxi11_decode(const uint8_t* data, size_t size, vxi11_read_resp_t& r, uint32_t max_data) {
    xdr_reader_t x(data, size);
    r.data.clear();
    return x.get_i32(r.error) && x.get_i32(r.reason) && x.get_opaque(r.data, max_data);
}

bool vxi11_decode_error(const uint8_t* data, size_t size, int32_t& error) {
    xdr_reader_t x(data, size);
    return x.get_i32(error);
}

template <typename resp_t>
rpc_status_t vxi11_core_client_t::_call(uint32_t proc, const byte_vector_t& args, resp_t& r,
                                        deadline_t deadline) {
    byte_vector_t record;
    size_t offset = 0;
    const rpc_status_t s = m_rpc.call(proc, args, record, offset, deadline);
    if (s != rpc_status_t::ok) return s;
    return vxi11_decode(record.data() + offset, record.size() - offset, r) ? rpc_status_t::ok
                                                                           : rpc_status_t::garbage;
}

rpc_status_t vxi11_core_client_t::_call_error(uint32_t proc, const byte_vector_t& args, int32_t& error,
                                              deadline_t deadline) {
    byte_vector_t record;
    size_t offset = 0;
    const rpc_status_t s = m_rpc.call(proc, args, record, offset, deadline);
    if (s != rpc_status_t::ok) return s;
    return vxi11_decode_error(record.data() + offset, record.size() - offset, error) ? rpc_status_t::ok
                                                                                     : rpc_status_t::garbage;
}

rpc_status_t vxi11_core_client_t::create_link(const vxi11_create_link_args_t& a, vxi11_create_link_resp_t& r,
                                              deadline_t deadline) {
    return _call(vxi11_proc_create_link, vxi11_encode(a), r, deadline);
}

rpc_status_t vxi11_core_client_t::device_write(const vxi11_write_args_t& a, vxi11_write_resp_t& r,
                                               deadline_t deadline) {
    return _call(vxi11_proc_device_write, vxi11_encode(a), r, deadline);
}

rpc_status_t vxi11_core_client_t::device_read(const vxi11_read_args_t& a, vxi11_read_resp_t& r,
                                              deadline_t deadline) {
    return _call(vxi11_proc_device_read, vxi11_encode(a), r, deadline);
}

rpc_status_t vxi11_core_client_t::device_clear(const vxi11_generic_args_t& a, int32_t& error,
                                               deadline_t deadline) {
    return _call_error(vxi11_proc_device_clear, vxi11_encode(a), error, deadline);
}

rpc_status_t vxi11_core_client_t::destroy_link(int32_t lid, int32_t& error, deadline_t deadline) {
    return _call_error(vxi11_proc_destroy_link, vxi11_encode_link_id(lid), error, deadline);
}

}  // namespace visa
