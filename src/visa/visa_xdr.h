// XDR (RFC 4506) encoding and bounds-checked decoding for our ONC RPC client.
// Written by hand: no Debian package offers XDR for C++ without rpcgen-generated C
// code and a global libtirpc, and our needs are five primitive types.
//
// Every scalar is 4 bytes big-endian; opaque<> and string<> are a length word, the
// bytes, then zero padding to a multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace visa {

using byte_vector_t = std::vector<uint8_t>;

class xdr_writer_t {
public:
    explicit xdr_writer_t(byte_vector_t& out) : m_out(out) {}
    void put_u32(uint32_t v);
    void put_i32(int32_t v) { put_u32(static_cast<uint32_t>(v)); }
    void put_bool(bool v) { put_u32(v ? 1U : 0U); }
    void put_opaque(const uint8_t* data, size_t size);  // variable length, padded
    void put_string(const std::string& s) {
        put_opaque(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }

private:
    byte_vector_t& m_out;
};

// Reads from a byte buffer it does not own. The first failure (short buffer, a
// length above the caller's maximum, non-zero padding is tolerated) makes the
// reader fail for good: every later get returns false and ok() stays false.
class xdr_reader_t {
public:
    xdr_reader_t(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    bool get_u32(uint32_t& v);
    bool get_i32(int32_t& v);
    bool get_bool(bool& v);
    // Variable-length opaque: the bytes are appended to `out` only when the whole
    // item (with padding) is present and its length is at most `max_size`.
    bool get_opaque(byte_vector_t& out, uint32_t max_size);
    // Same, but returns a view into the buffer instead of copying.
    bool get_opaque_view(const uint8_t*& data, uint32_t& size, uint32_t max_size);
    bool get_string(std::string& out, uint32_t max_size);
    bool skip_opaque(uint32_t max_size);

    bool ok() const { return m_ok; }
    size_t position() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }

private:
    bool _fail() {
        m_ok = false;
        return false;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace visa
