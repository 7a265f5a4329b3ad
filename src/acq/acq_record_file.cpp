#include "acq/acq_record_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/plib_format.h"

namespace {

constexpr int64_t us_per_second = 1000000;
constexpr std::size_t export_chunk_bytes = 1 << 20;

// "YYYY-MM-DD HH:MM:SS." for the second that starts at `second`, or "".
std::string second_prefix(int64_t second) {
    std::string text = format_timestamp_us(second * us_per_second);
    const std::size_t dot = text.rfind('.');
    if (dot == std::string::npos) return std::string();
    text.resize(dot + 1);
    return text;
}

// Powers of ten that are exact doubles.
constexpr double exact_pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int exact_pow10_max = 22;

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// "%.10g" without printf for the magnitudes readings have. The value is scaled by an
// exact power of ten to m in [1e9, 1e10): one multiplication or division, so m is the
// exact product rounded once (an error below 2^-20). Rounding m to an integer then
// gives the exact product's rounding unless its fraction is within 1e-5 of one half,
// where the product might be a tie or sit on the other side of it: those values, and
// magnitudes whose power of ten is not exact, return nullptr for std::to_chars.
char* _format_g10_fast(double value, char* out) {
    const double a = std::fabs(value);
    if (!(a >= 1e-13 && a < 1e31)) return nullptr;  // also 0, denormals, inf, nan
    uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    const int e2 = static_cast<int>(bits >> 52) - 1023;
    // floor(e2 * log10(2)) (78913 / 2^18 is log10(2) to 1e-7; exact for |e2| < 1650):
    // floor(log10(a)) or one less, corrected below.
    int e10 = (e2 * 78913) >> 18;
    double m = 0.0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int k = 9 - e10;
        if (k > exact_pow10_max || k < -exact_pow10_max) return nullptr;
        m = k >= 0 ? a * exact_pow10[k] : a / exact_pow10[-k];
        if (m < 1e10) break;
        ++e10;
    }
    if (m >= 1e10 || m < 1e9) return nullptr;
    uint64_t r = static_cast<uint64_t>(m);  // floor: m is positive
    const double fraction = m - static_cast<double>(r);
    if (std::fabs(fraction - 0.5) < 1e-5) return nullptr;
    if (fraction > 0.5) ++r;
    if (r == 10000000000ULL) {  // rounded up to the next power of ten
        r = 1000000000ULL;
        ++e10;
    }
    // The ten digits as two halves of five, then the count of significant ones
    // (trailing zeros dropped).
    char d[10];
    uint32_t halves[2] = {static_cast<uint32_t>(r / 100000), static_cast<uint32_t>(r % 100000)};
    for (int h = 0; h < 2; ++h) {
        uint32_t v = halves[h];
        char* q = d + 5 * h;
        q[4] = static_cast<char>('0' + v % 10);
        v /= 10;
        std::memcpy(q + 2, digit_pairs + 2 * (v % 100), 2);
        std::memcpy(q, digit_pairs + 2 * (v / 100), 2);
    }
    int n = 10;
    while (n > 1 && d[n - 1] == '0') --n;

    char* p = out;
    if (value < 0) *p++ = '-';
    if (e10 >= -4 && e10 < acq_record_value_digits) {  // plain decimal notation
        if (e10 >= 0) {
            std::memcpy(p, d, static_cast<std::size_t>(e10 + 1));
            p += e10 + 1;
            if (n > e10 + 1) {
                *p++ = '.';
                std::memcpy(p, d + e10 + 1, static_cast<std::size_t>(n - e10 - 1));
                p += n - e10 - 1;
            }
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = -1; i > e10; --i) *p++ = '0';
            std::memcpy(p, d, static_cast<std::size_t>(n));
            p += n;
        }
        return p;
    }
    *p++ = d[0];  // exponent notation: d.ddde±XX
    if (n > 1) {
        *p++ = '.';
        std::memcpy(p, d + 1, static_cast<std::size_t>(n - 1));
        p += n - 1;
    }
    *p++ = 'e';
    *p++ = e10 < 0 ? '-' : '+';
    const int x = e10 < 0 ? -e10 : e10;  // at most 31 here: two digits
    *p++ = digit_pairs[2 * x];
    *p++ = digit_pairs[2 * x + 1];
    return p;
}

std::string sanitized_name_part(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) c = '_';
    }
    return out;
}

// fclose also flushes: its result decides whether the buffered bytes reached the file.
acq_file_result_t write_and_close(std::FILE* f, std::string_view text, bool ok_so_far) {
    bool ok = ok_so_far;
    if (ok && !text.empty()) ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0) ok = false;
    return ok ? acq_file_result_t::ok : acq_file_result_t::write_failed;
}

}  // namespace

std::string acq_record_header(const plib_acq_file_record_param_t& param, int interval_ms,
                              std::string_view date_text) {
    std::string h;
    h.reserve(256);
    h += "Product type : " + param.product_type + "\n";
    h += "Product SRLN : " + param.serial_number + "\n";
    h += "Product Software Version : " + param.product_software_version + "\n";
    h += "Software Version : " + param.software_version + "\n";
    h += "File type: CSV\n";
    h += "File version: 1.0\n";
    h += "Interval : " + std::to_string(interval_ms) + "ms\n";
    h += "Date : ";
    h += date_text;
    h += "\n";
    h += "\n";
    h += param.column_title + ",Time(s)\n";
    return h;
}

char* acq_format_record_value(double value, char* out) {
    char* const fast_end = _format_g10_fast(value, out);
    if (fast_end != nullptr) return fast_end;
    const auto res = std::to_chars(out, out + acq_record_value_max_chars, value, std::chars_format::general,
                                   acq_record_value_digits);
    return res.ec == std::errc() ? res.ptr : out;
}

void acq_record_line_formatter_t::append_line(std::string& out, const plib_data_t& r) {
    // One line is at most value, ',', 26 time bytes, '\n': written into a local buffer
    // and appended once.
    char line[acq_record_value_max_chars + 64];
    char* p = acq_format_record_value(r.value, line);
    *p++ = ',';

    int64_t second = r.timestamp / us_per_second;
    int64_t micros = r.timestamp % us_per_second;
    if (micros < 0) {  // floor division, as format_timestamp_us
        micros += us_per_second;
        --second;
    }
    if (!m_have_second || second != m_second) {
        m_prefix = second_prefix(second);
        m_second = second;
        m_have_second = true;
    }
    if (!m_prefix.empty() && m_prefix.size() <= 40) {  // "YYYY-MM-DD HH:MM:SS." is 20 bytes
        std::memcpy(p, m_prefix.data(), m_prefix.size());
        p += m_prefix.size();
        int v = static_cast<int>(micros);
        for (int i = 5; i >= 0; --i) {
            p[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        p += 6;
    } else if (!m_prefix.empty()) {  // a calendar text longer than any real one: no fixed buffer
        out.append(line, static_cast<std::size_t>(p - line));
        out += m_prefix;
        char frac[6];
        int v = static_cast<int>(micros);
        for (int i = 5; i >= 0; --i) {
            frac[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        out.append(frac, sizeof(frac));
        out += '\n';
        return;
    }
    *p++ = '\n';
    out.append(line, static_cast<std::size_t>(p - line));
}

std::string acq_record_file_name(std::string_view stamp, std::string_view column_title,
                                 std::string_view product_type, std::string_view serial_number) {
    std::string name = sanitized_name_part(stamp);
    name += ' ';
    name += sanitized_name_part(column_title);
    name += ' ';
    name += sanitized_name_part(product_type);
    name += ' ';
    name += sanitized_name_part(serial_number);
    name += ".csv";
    return name;
}

std::string acq_record_path(std::string_view directory, std::string_view file_name) {
    if (directory.empty()) return std::string();
    return (std::filesystem::path(std::string(directory)) / std::string(file_name)).string();
}

void acq_fill_record_param(plib_acq_file_record_param_t& param, std::string_view manufacturer,
                           std::string_view product_type, std::string_view serial_number,
                           std::string_view product_software_version, std::string_view software_version,
                           std::string_view column_title, std::string_view record_directory,
                           std::string_view stamp) {
    param.manufacturer = std::string(manufacturer);
    param.product_type = std::string(product_type);
    param.serial_number = std::string(serial_number);
    param.product_software_version = std::string(product_software_version);
    param.software_version = std::string(software_version);
    param.column_title = std::string(column_title);
    param.record_path = acq_record_path(
        record_directory, acq_record_file_name(stamp, column_title, product_type, serial_number));
}

acq_file_result_t acq_append_to_file(const std::string& path, std::string_view text) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr) return acq_file_result_t::open_failed;
    return write_and_close(f, text, true);
}

acq_file_result_t acq_export_file(const std::string& path, const std::string& header, const plib_data_t* data,
                                  std::size_t n) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return acq_file_result_t::open_failed;
    std::printf("Success to open: %s\n", path.c_str());
    std::fflush(stdout);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    acq_record_line_formatter_t formatter;
    std::string chunk;
    chunk.reserve(export_chunk_bytes + 128);
    for (std::size_t i = 0; ok && i < n; ++i) {
        formatter.append_line(chunk, data[i]);
        if (chunk.size() >= export_chunk_bytes) {
            ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
            chunk.clear();
        }
    }
    return write_and_close(f, chunk, ok);
}
