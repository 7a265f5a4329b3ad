#include "scan/scan_record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/plib_format.h"
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
    // Each text is one header line whatever the instrument sent.
    h += "Product type : " + printable_line(info.product_type) + "\n";
    h += "Product SRLN : " + printable_line(info.serial_number) + "\n";
    h += "Product Software Version : " + printable_line(info.product_software_version) + "\n";
    h += "Software Version : " + printable_line(info.software_version) + "\n";
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

namespace {
bool write_all_at(int fd, const char* p, std::size_t n, off_t offset) {
    // Each write is bounded by the bytes left; a write that makes no progress ends it.
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, offset);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
        offset += w;
    }
    return true;
}

bool read_all_at(int fd, std::string& out, std::size_t n, off_t offset) {
    out.resize(n);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, out.data() + done, n - done, offset + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<std::size_t>(r);
    }
    return true;
}

bool read_whole_file(const std::string& path, std::string& out, bool& missing) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    read_all_at(fd, out, static_cast<std::size_t>(st.st_size), 0);
    ::close(fd);
    return ok;
}

constexpr const char* journal_suffix = ".tail";
// A directory with more entries than this is not searched further for journals.
constexpr int journal_search_limit = 100000;
}  // namespace

namespace {
// Writes `text` at the end of the open file; on a short write the file is cut back to
// where it ended.
bool append_whole(int fd, const std::string& text) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const bool ok = write_all_at(fd, text.data(), text.size(), st.st_size);
    if (!ok) (void)!::ftruncate(fd, st.st_size);
    return ok;
}
}  // namespace

bool scan_append_to_file(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = append_whole(fd, text);
    return (::close(fd) == 0) && ok;
}

bool scan_create_log_file(const std::string& path, const std::string& text, plib_log_create_t& created) {
    created = plib_log_file_create(path);
    if (created.fd < 0) return false;
    const bool ok = append_whole(created.fd, text);
    const bool closed = ::close(created.fd) == 0;
    created.fd = -1;
    return ok && closed;
}

bool scan_append_to_log_file(const std::string& path, const plib_log_file_id_t& id, const std::string& text) {
    const int fd = plib_log_file_open_owned(path, id, true);
    if (fd < 0) return false;
    const bool ok = append_whole(fd, text);
    return (::close(fd) == 0) && ok;
}

std::string scan_csv_table_journal_path(const std::string& path) { return path + journal_suffix; }

bool scan_csv_table_recover(const std::string& path) {
    const std::string journal = scan_csv_table_journal_path(path);
    std::string text;
    bool missing = false;
    if (!read_whole_file(journal, text, missing)) return missing;
    // "<offset> <length>\n" and then exactly <length> bytes; anything else is a journal
    // the crash cut short, written before the file was touched.
    uint64_t offset = 0, length = 0;
    bool whole = false;
    const std::size_t eol = text.find('\n');
    if (eol != std::string::npos && eol < 48) {
        const std::string head = text.substr(0, eol);
        const std::size_t space = head.find(' ');
        auto parse = [](const std::string& digits, uint64_t& value) {
            if (digits.empty() || digits.size() > 18) return false;
            value = 0;
            for (char c : digits) {
                if (c < '0' || c > '9') return false;
                value = value * 10 + static_cast<uint64_t>(c - '0');
            }
            return true;
        };
        whole = space != std::string::npos && parse(head.substr(0, space), offset) &&
                parse(head.substr(space + 1), length) && text.size() - eol - 1 == length;
    }
    if (!whole) return ::unlink(journal.c_str()) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // The tail starts inside the file (or at its end): anything else is not this file's.
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) >= offset;
    ok = ok && write_all_at(fd, text.data() + eol + 1, length, static_cast<off_t>(offset));
    ok = ok && ::ftruncate(fd, static_cast<off_t>(offset + length)) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok && ::unlink(journal.c_str()) == 0;
}

int scan_csv_table_recover_directory(const std::string& directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(directory, ec), end;
    int recovered = 0;
    for (int seen = 0; !ec && it != end && seen < journal_search_limit; it.increment(ec), ++seen) {
        const std::string name = it->path().filename().string();
        const std::string suffix = std::string(".csv") + journal_suffix;
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string journal = it->path().string();
        if (scan_csv_table_recover(journal.substr(0, journal.size() - std::string(journal_suffix).size())))
            ++recovered;
    }
    return recovered;
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
    m_failed = false;
    m_finished = false;
    // A rewrite of this file that a crash cut short is finished first.
    if (!scan_csv_table_recover(path)) return false;
    // The file is this writer's alone: never one already there (a run started within
    // the same second, another program's), never through a link.
    plib_log_create_t created;
    if (!scan_create_log_file(path, row, created)) return false;
    if (created.renamed())
        std::printf("scan_csv_table_file_t: \"%s\" is taken; logging to \"%s\"\n", path.c_str(),
                    created.path.c_str());
    m_path = created.path;
    m_id = created.id;
    m_header_size = row.size();
    m_file_size = m_header_size;
    return true;
}

bool scan_csv_table_file_t::finish() {
    if (m_path.empty() || m_failed) return false;
    if (m_row_count != 0) return true;
    // No data row gave the titles row its line break: the file gets it now.
    if (!scan_append_to_log_file(m_path, m_id, "\n")) return false;
    m_header_size += 1;
    m_file_size = m_header_size;
    m_rows_start.clear();
    m_base_row = 0;
    m_finished = true;
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

scan_table_fault_t scan_csv_table_file_t::_fault(scan_table_step_t step) const {
    return m_fault_hook ? m_fault_hook(step) : scan_table_fault_t::none;
}

bool scan_csv_table_file_t::_rewrite_tail(uint64_t offset, const std::string& text) {
    // A crash (a test's) leaves everything as it is at that step; a failure restores.
    const std::string journal = scan_csv_table_journal_path(m_path);
    scan_table_fault_t fault = _fault(scan_table_step_t::journal_begin);
    if (fault == scan_table_fault_t::crash) return false;
    const std::string head = std::to_string(offset) + " " + std::to_string(text.size()) + "\n";
    bool ok = fault == scan_table_fault_t::none;
    const int jfd =
        ok ? ::open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666) : -1;
    ok = ok && jfd >= 0 && write_all_at(jfd, head.data(), head.size(), 0);
    const std::size_t half = text.size() / 2;
    ok = ok && write_all_at(jfd, text.data(), half, static_cast<off_t>(head.size()));
    if (ok) {
        fault = _fault(scan_table_step_t::journal_half);
        if (fault == scan_table_fault_t::crash) {
            ::close(jfd);
            return false;
        }
        ok = fault == scan_table_fault_t::none;
    }
    ok = ok &&
         write_all_at(jfd, text.data() + half, text.size() - half, static_cast<off_t>(head.size() + half));
    if (jfd >= 0 && ::close(jfd) != 0) ok = false;
    if (!ok) {
        // The file was not touched: it holds what it held.
        ::unlink(journal.c_str());
        return false;
    }

    fault = _fault(scan_table_step_t::file_begin);
    if (fault == scan_table_fault_t::crash) return false;
    const int fd = fault == scan_table_fault_t::none ? plib_log_file_open_owned(m_path, m_id, true) : -1;
    // The old tail, to put back should the new one not fit (a full disk).
    std::string old_tail;
    if (fd < 0 || !read_all_at(fd, old_tail, static_cast<std::size_t>(m_file_size - offset),
                               static_cast<off_t>(offset))) {
        if (fd >= 0) ::close(fd);
        ::unlink(journal.c_str());  // the file was not touched
        return false;
    }
    ok = write_all_at(fd, text.data(), half, static_cast<off_t>(offset));
    if (ok) {
        fault = _fault(scan_table_step_t::file_half);
        if (fault == scan_table_fault_t::crash) {
            ::close(fd);
            return false;
        }
        ok = fault == scan_table_fault_t::none;
    }
    ok = ok && write_all_at(fd, text.data() + half, text.size() - half, static_cast<off_t>(offset + half));
    if (!ok) {
        // Rewriting bytes the file already had needs no new space: the old tail fits. If
        // even that fails, the journal stays, holding every reading.
        if (write_all_at(fd, old_tail.data(), old_tail.size(), static_cast<off_t>(offset)) &&
            ::ftruncate(fd, static_cast<off_t>(m_file_size)) == 0)
            ::unlink(journal.c_str());
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) return false;  // the journal stays: it holds the readings

    fault = _fault(scan_table_step_t::journal_remove);
    if (fault != scan_table_fault_t::none) return false;
    ::unlink(journal.c_str());
    return true;
}

bool scan_csv_table_file_t::append(const std::map<std::size_t, std::vector<double>>& values) {
    if (m_path.empty() || m_failed) return false;
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
    } else if (m_rows_start.empty() && m_base_row == 0 && !m_finished) {
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

    if (!_rewrite_tail(cut, text)) {
        m_failed = true;
        return false;
    }
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
