#include "scan/scan_record_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/plib_measure_type.h"
#include "common/plib_number.h"

std::string scan_join_path(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string scan_single_file_name(const std::string& stamp) { return scan_file_prefix + stamp + ".csv"; }

std::string scan_channel_file_name(const std::string& stamp, int channel, const std::string& name, int func) {
    std::string out = scan_file_prefix + stamp + " Channel_" + std::to_string(channel) + " ";
    // The name is the user's (or a project file's): a separator in it must not lead the
    // file out of the chosen directory.
    std::string safe = name;
    std::replace(safe.begin(), safe.end(), '/', '_');
    std::replace(safe.begin(), safe.end(), '\\', '_');
    if (!safe.empty()) out += "'" + safe + "'";
    out += measure_name(static_cast<plib_measure_type_t>(func));
    out += ".csv";
    return out;
}

std::string scan_column_title(int channel, const std::string& name, int func) {
    return "Channel_" + std::to_string(channel) + name + ": " +
           measure_name(static_cast<plib_measure_type_t>(func));
}

std::string scan_channel_header(const plib_scan_file_record_param_t& info, const std::string& stamp) {
    std::string h;
    h += "Product type : " + info.product_type + "\n";
    h += "Product SRLN : " + info.serial_number + "\n";
    h += "Product Software Version : " + info.product_software_version + "\n";
    h += "Software Version : " + info.software_version + "\n";
    h += "File type: CSV\n";
    h += "File version: 1.0\n";
    h += "Date : " + stamp + "\n";
    h += "\n";
    h += "Data,Time(s)\n";
    return h;
}

void scan_append_channel_line(std::string& out, double value, double seconds) {
    out += format_general(value, 10);
    out += ',';
    out += format_general(seconds, 10);
    out += '\n';
}

bool scan_append_to_file(const std::string& path, const std::string& text) {
    // Binary mode: lines end in "\n" whatever the platform.
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return (std::fclose(f) == 0) && ok;
}

std::string scan_csv_cell(const std::string& text) {
    if (text.find_first_of(",\" \r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

bool scan_csv_table_file_t::create(const std::string& path, const std::vector<std::string>& titles) {
    m_path = path;
    std::string row;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        if (i) row += ',';
        row += scan_csv_cell(titles[i]);
    }
    m_column_length.assign(titles.size(), 0);
    m_cells.assign(titles.size(), {});
    m_row_count = 0;
    m_base_row = 0;
    m_rows_start.clear();
    // The file may already hold a run started within the same second: the table starts
    // where this run's titles row starts.
    std::error_code ec;
    const auto existing = std::filesystem::exists(path, ec) ? std::filesystem::file_size(path, ec) : 0;
    if (ec) return false;
    if (!scan_append_to_file(path, row)) return false;
    m_header_size = existing + row.size();
    m_file_size = m_header_size;
    return true;
}

std::string scan_csv_table_file_t::_render_row(std::size_t row) const {
    std::string out;
    for (std::size_t c = 0; c < m_cells.size(); ++c) {
        if (c) out += ',';
        if (row < m_column_length[c]) out += m_cells[c][row - m_base_row];
    }
    out += '\n';
    return out;
}

bool scan_csv_table_file_t::append(const std::map<std::size_t, std::vector<double>>& values) {
    if (m_path.empty()) return false;
    std::size_t first_changed = m_row_count;
    bool any = false;
    for (const auto& [column, list] : values) {
        if (column >= m_cells.size() || list.empty()) continue;
        first_changed = std::min(first_changed, m_column_length[column]);
        for (double v : list) m_cells[column].push_back(format_general(v, 17));
        m_column_length[column] += list.size();
        m_row_count = std::max(m_row_count, m_column_length[column]);
        any = true;
    }
    if (!any) return true;

    // Offset where the first changed row starts; the titles row gets its line break
    // with the first data row.
    uint64_t cut = m_file_size;
    std::string text;
    if (first_changed - m_base_row < m_rows_start.size()) {
        cut = m_rows_start[first_changed - m_base_row];
        m_rows_start.resize(first_changed - m_base_row);
    } else if (m_rows_start.empty() && m_base_row == 0) {
        cut = m_header_size;
        text = "\n";
    }
    uint64_t pos = cut + text.size();
    for (std::size_t r = first_changed; r < m_row_count; ++r) {
        m_rows_start.push_back(pos);
        const std::string row = _render_row(r);
        text += row;
        pos += row.size();
    }

    std::error_code ec;
    if (cut != m_file_size) {
        std::filesystem::resize_file(m_path, cut, ec);
        if (ec) return false;
    }
    if (!scan_append_to_file(m_path, text)) return false;
    m_file_size = pos;

    // Rows every column has filled are final: drop them from memory.
    std::size_t min_length = m_row_count;
    for (std::size_t len : m_column_length) min_length = std::min(min_length, len);
    if (m_cells.empty()) min_length = m_row_count;
    while (m_base_row < min_length) {
        for (auto& column : m_cells)
            if (!column.empty()) column.pop_front();
        m_rows_start.pop_front();
        ++m_base_row;
    }
    return true;
}
