#include "visa/visa_xdr.h"

namespace visa {

namespace {
constexpr size_t padded(size_t n) { return (n + 3U) & ~static_cast<size_t>(3U); }
}  // namespace

void xdr_writer_t::put_u32(uint32_t v) {
    m_out.push_back(static_cast<uint8_t>(v >> 24));
    m_out.push_back(static_cast<uint8_t>(v >> 16));
    m_out.push_back(static_cast<uint8_t>(v >> 8));
    m_out.push_back(static_cast<uint8_t>(v));
}

void xdr_writer_t::put_opaque(const uint8_t* data, size_t size) {
    put_u32(static_cast<uint32_t>(size));
    if (size > 0) m_out.insert(m_out.end(), data, data + size);
    m_out.insert(m_out.end(), padded(size) - size, uint8_t{0});
}

bool xdr_reader_t::get_u32(uint32_t& v) {
    if (!m_ok || remaining() < 4) return _fail();
    const uint8_t* p = m_data + m_pos;
    v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
        (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    m_pos += 4;
    return true;
}

bool xdr_reader_t::get_i32(int32_t& v) {
    uint32_t u = 0;
    if (!get_u32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
}

bool xdr_reader_t::get_bool(bool& v) {
    uint32_t u = 0;
    if (!get_u32(u)) return false;
    if (u > 1) return _fail();
    v = u != 0;
    return true;
}

bool xdr_reader_t::get_opaque_view(const uint8_t*& data, uint32_t& size, uint32_t max_size) {
    uint32_t n = 0;
    if (!get_u32(n)) return false;
    if (n > max_size) return _fail();
    // Compare against what is left before adding, so a lying length cannot overflow.
    if (padded(n) > remaining()) return _fail();
    data = m_data + m_pos;
    size = n;
    m_pos += padded(n);
    return true;
}

bool xdr_reader_t::get_opaque(byte_vector_t& out, uint32_t max_size) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!get_opaque_view(data, size, max_size)) return false;
    out.insert(out.end(), data, data + size);
    return true;
}

bool xdr_reader_t::get_string(std::string& out, uint32_t max_size) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!get_opaque_view(data, size, max_size)) return false;
    out.assign(reinterpret_cast<const char*>(data), size);
    return true;
}

bool xdr_reader_t::skip_opaque(uint32_t max_size) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    return get_opaque_view(data, size, max_size);
}

}  // namespace visa
