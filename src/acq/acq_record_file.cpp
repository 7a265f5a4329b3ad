#include "acq/acq_record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/plib_format.h"

namespace {

constexpr int64_t us_per_second = 1000000;
constexpr std::size_t export_chunk_bytes = 1 << 20;
// One write(2) of the log carries at most this much and always ends at a line end:
// a process killed between two writes leaves whole lines.
constexpr std::size_t append_chunk_bytes = 1 << 20;
constexpr std::size_t repair_scan_bytes = 64 * 1024;

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

bool write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool write_all_at(int fd, const char* p, std::size_t n, off_t offset) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, offset);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        offset += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Cuts a torn last line (left by a crash or a full disk) back to the last "\n", so
// what is appended next starts on a line of its own. Reads backwards in bounded steps.
bool repair_torn_tail(int fd, off_t size) {
    char buf[repair_scan_bytes];
    off_t end = size;
    while (end > 0) {
        const off_t start = end > static_cast<off_t>(sizeof buf) ? end - static_cast<off_t>(sizeof buf) : 0;
        const std::size_t want = static_cast<std::size_t>(end - start);
        const ssize_t got = ::pread(fd, buf, want, start);
        if (got != static_cast<ssize_t>(want)) return false;
        if (end == size && buf[want - 1] == '\n') return true;  // whole lines: nothing to do
        const void* hit = memrchr(buf, '\n', want);
        if (hit != nullptr) {
            const off_t keep = start + (static_cast<const char*>(hit) - buf) + 1;
            return ::ftruncate(fd, keep) == 0;
        }
        end = start;
    }
    return ::ftruncate(fd, 0) == 0;  // not one whole line
}

}  // namespace

std::string acq_record_header(const plib_acq_file_record_param_t& param, int interval_ms,
                              std::string_view date_text) {
    std::string h;
    h.reserve(256);
    // Each text is one header line whatever the instrument sent: the nine lines before
    // the readings stay nine.
    h += "Product type : " + printable_line(param.product_type) + "\n";
    h += "Product SRLN : " + printable_line(param.serial_number) + "\n";
    h += "Product Software Version : " + printable_line(param.product_software_version) + "\n";
    h += "Software Version : " + printable_line(param.software_version) + "\n";
    h += "File type: CSV\n";
    h += "File version: 1.0\n";
    h += "Interval : " + std::to_string(interval_ms) + "ms\n";
    h += "Date : ";
    h += date_text;
    h += "\n";
    h += "\n";
    h += printable_line(param.column_title) + ",Time(s)\n";
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

acq_file_result_t acq_create_log_file(const std::string& path, std::string_view header,
                                      plib_log_create_t& created) {
    created = plib_log_file_create(path);
    if (created.fd < 0) return acq_file_result_t::open_failed;
    bool ok = write_all(created.fd, header.data(), header.size());
    if (!ok) (void)!::ftruncate(created.fd, 0);
    ok = ::close(created.fd) == 0 && ok;
    created.fd = -1;
    return ok ? acq_file_result_t::ok : acq_file_result_t::write_failed;
}

acq_file_result_t acq_append_to_file(const std::string& path, const plib_log_file_id_t& id, std::string_view text) {
    // Only the file this writer created: the repair below cuts bytes, which it may do
    // to its own file alone.
    const int fd = plib_log_file_open_owned(path, id, true);
    if (fd < 0) return acq_file_result_t::open_failed;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    off_t good_size = ok ? st.st_size : 0;
    if (ok && good_size > 0) {
        ok = repair_torn_tail(fd, good_size);
        struct stat after {};
        if (::fstat(fd, &after) == 0) good_size = after.st_size;
    }
    const char* p = text.data();
    const char* const end = p + text.size();
    while (ok && p != end) {
        // The chunk ends at the last line end within the limit (or at the first one
        // beyond it, for a line longer than the limit).
        const char* stop = end;
        if (static_cast<std::size_t>(end - p) > append_chunk_bytes) {
            const void* hit = memrchr(p, '\n', append_chunk_bytes);
            if (hit == nullptr)
                hit = std::memchr(p + append_chunk_bytes, '\n',
                                  static_cast<std::size_t>(end - p) - append_chunk_bytes);
            stop = hit != nullptr ? static_cast<const char*>(hit) + 1 : end;
        }
        ok = write_all_at(fd, p, static_cast<std::size_t>(stop - p), good_size);
        if (ok) good_size += static_cast<off_t>(stop - p);
        p = stop;
    }
    // A short write (full disk) leaves part of a line: cut it off, so the file ends at
    // a line boundary whatever happens next.
    if (!ok) (void)!::ftruncate(fd, good_size);
    if (::close(fd) != 0) ok = false;
    return ok ? acq_file_result_t::ok : acq_file_result_t::write_failed;
}

acq_file_result_t acq_export_file(const std::string& path, const std::string& header, const plib_data_t* data,
                                  std::size_t n) {
    // Written to a temporary file beside the target, made durable, then renamed over
    // it: a failed export never replaces a good file with a torn one.
    namespace fs = std::filesystem;
    const fs::path target(path);
    struct stat st {};
    const bool device = ::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (device && S_ISDIR(st.st_mode)) return acq_file_result_t::open_failed;
    // A device or pipe cannot be replaced by renaming (and must not be): written into.
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    // A pipe nobody reads would hold the engine forever: opened without waiting.
    const int fd = device ? ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC)
                          : ::mkstemp(temp.data());
    if (fd < 0) return acq_file_result_t::open_failed;
    if (device) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::printf("Success to open: %s\n", path.c_str());
    std::fflush(stdout);
    bool ok = write_all(fd, header.data(), header.size());
    acq_record_line_formatter_t formatter;
    std::string chunk;
    chunk.reserve(export_chunk_bytes + 128);
    for (std::size_t i = 0; ok && i < n; ++i) {
        formatter.append_line(chunk, data[i]);
        if (chunk.size() >= export_chunk_bytes) {
            ok = write_all(fd, chunk.data(), chunk.size());
            chunk.clear();
        }
    }
    if (ok) ok = write_all(fd, chunk.data(), chunk.size());
    if (device) {
        ok = ::close(fd) == 0 && ok;
        return ok ? acq_file_result_t::ok : acq_file_result_t::write_failed;
    }
    // mkstemp makes the file 0600: give it the mode any new file of this process gets.
    ok = ok && plib_apply_file_mode(fd) == 0;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return acq_file_result_t::write_failed;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return acq_file_result_t::ok;
}
