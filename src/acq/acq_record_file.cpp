#include "acq/acq_record_file.h"

#include <charconv>
#include <cstdio>
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

void acq_record_line_formatter_t::append_line(std::string& out, const plib_data_t& r) {
    // Same call as format_general(value, 10) ("%.10g"), without a string per reading.
    char value[40];
    const auto res = std::to_chars(value, value + sizeof(value), r.value, std::chars_format::general,
                                   acq_record_value_digits);
    if (res.ec == std::errc()) out.append(value, static_cast<std::size_t>(res.ptr - value));
    out += ',';

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
    if (!m_prefix.empty()) {
        out += m_prefix;
        char frac[6];
        int v = static_cast<int>(micros);
        for (int i = 5; i >= 0; --i) {
            frac[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        out.append(frac, sizeof(frac));
    }
    out += '\n';
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
    param.record_path =
        acq_record_path(record_directory, acq_record_file_name(stamp, column_title, product_type, serial_number));
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
