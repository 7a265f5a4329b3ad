#include "pub/pub_spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr uint32_t record_magic = 0x3153'4B56;  // "VKS1" in a little-endian file
constexpr std::size_t header_words = 4;          // magic, length, readings, crc
constexpr std::size_t header_bytes = header_words * sizeof(uint32_t);
// A record longer than this is corruption, not a batch (batches are a few KiB).
constexpr uint32_t max_record_payload = 64u << 20;
constexpr uint64_t max_segment_bytes = 4u << 20;
constexpr uint64_t min_segment_bytes = 4096;
// The ack file lags the delivery position by at most this (see the header).
constexpr auto ack_interval = std::chrono::seconds(1);

uint32_t record_crc(uint32_t readings, const char* payload, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(&readings), sizeof readings);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(payload), static_cast<uInt>(size));
    return static_cast<uint32_t>(crc);
}

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

bool sync_directory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool read_exact(int fd, void* buffer, std::size_t size, uint64_t offset) {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

pub_spool_t::pub_spool_t(std::string directory, uint64_t cap_bytes)
    : m_directory(std::move(directory)),
      m_cap_bytes(cap_bytes),
      m_segment_limit(std::clamp<uint64_t>(cap_bytes / 4, min_segment_bytes, max_segment_bytes)) {}

pub_spool_t::~pub_spool_t() {
    if (m_lock_fd >= 0) _flush_ack(true);
    if (m_append_fd >= 0) ::close(m_append_fd);
    if (m_lock_fd >= 0) ::close(m_lock_fd);  // releases the flock
}

std::string pub_spool_t::_segment_path(uint64_t number) const {
    char name[48];
    std::snprintf(name, sizeof name, "/seg-%020" PRIu64 ".log", number);
    return m_directory + name;
}

bool pub_spool_t::open(std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::error_code ec;
    std::filesystem::create_directories(m_directory, ec);
    std::filesystem::create_directories(rejected_directory(), ec);
    if (ec) {
        error = "cannot create the spool directory " + m_directory + ": " + ec.message();
        return false;
    }
    ::chmod(m_directory.c_str(), 0700);
    m_lock_fd = ::open((m_directory + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lock_fd < 0) {
        error = errno_text("cannot open " + m_directory + "/lock");
        return false;
    }
    if (::flock(m_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        error = "the spool " + m_directory + " is in use by another process";
        ::close(m_lock_fd);
        m_lock_fd = -1;
        return false;
    }

    // The segments on disk, in order.
    std::vector<uint64_t> numbers;
    for (const auto& entry : std::filesystem::directory_iterator(m_directory, ec)) {
        const std::string name = entry.path().filename().string();
        unsigned long long n = 0;
        char tail[8] = {};
        if (name.size() == 28 && std::sscanf(name.c_str(), "seg-%20llu.%3s", &n, tail) == 2 &&
            std::strcmp(tail, "log") == 0)
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    for (const auto& entry : std::filesystem::directory_iterator(rejected_directory(), ec)) {
        unsigned long long n = 0;
        if (std::sscanf(entry.path().filename().string().c_str(), "%llu", &n) == 1)
            m_rejected_number = std::max<uint64_t>(m_rejected_number, n);
    }

    // The delivery position; a missing or unreadable ack file means "from the start".
    {
        std::ifstream in(m_directory + "/ack");
        unsigned long long seg = 0, off = 0;
        if (in >> seg >> off) m_ack = {seg, off};
    }
    for (uint64_t n : numbers) {
        if (n < m_ack.segment) {  // delivered, but not yet deleted when the process ended
            ::unlink(_segment_path(n).c_str());
            continue;
        }
        segment_t seg;
        seg.number = n;
        _scan_segment(seg, n == m_ack.segment ? m_ack.offset : 0);
        m_segments.push_back(seg);
        m_disk_bytes += seg.size;
    }
    if (m_segments.empty() || m_segments.front().number != m_ack.segment) {
        // The ack points at a segment that is gone: start from the oldest one left.
        m_ack = {m_segments.empty() ? m_ack.segment : m_segments.front().number, 0};
        if (!m_segments.empty()) {
            m_pending_bytes = 0;
            m_pending_readings = 0;
            m_disk_bytes = 0;
            for (segment_t& seg : m_segments) {
                _scan_segment(seg, 0);
                m_disk_bytes += seg.size;
            }
        }
    }
    if (m_ack.offset > (m_segments.empty() ? 0 : m_segments.front().size)) m_ack.offset = 0;
    if (m_segments.empty()) {
        if (!_start_segment()) {
            error = errno_text("cannot create a spool segment in " + m_directory);
            return false;
        }
    } else {
        m_append_fd = ::open(_segment_path(m_segments.back().number).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_append_fd < 0) {
            error = errno_text("cannot open the spool segment " + _segment_path(m_segments.back().number));
            return false;
        }
    }
    return true;
}

void pub_spool_t::_scan_segment(segment_t& seg, uint64_t from) {
    const std::string path = _segment_path(seg.number);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    ::fstat(fd, &st);
    const uint64_t file_size = static_cast<uint64_t>(st.st_size);
    uint64_t offset = 0;
    std::string payload;
    while (offset + header_bytes <= file_size) {
        uint32_t header[header_words];
        if (!read_exact(fd, header, header_bytes, offset)) break;
        if (header[0] != record_magic || header[1] > max_record_payload ||
            offset + header_bytes + header[1] > file_size)
            break;
        payload.resize(header[1]);
        if (!read_exact(fd, payload.data(), payload.size(), offset + header_bytes)) break;
        if (record_crc(header[2], payload.data(), payload.size()) != header[3]) break;
        const uint64_t size = header_bytes + header[1];
        if (offset >= from) {
            m_pending_bytes += size;
            m_pending_readings += header[2];
        }
        offset += size;
    }
    if (offset < file_size) {
        // A torn or corrupt tail: what follows it cannot be trusted to be whole records.
        m_dropped_tail += file_size - offset;
        if (::ftruncate(fd, static_cast<off_t>(offset)) == 0) ::fdatasync(fd);
    }
    ::close(fd);
    seg.size = offset;
}

bool pub_spool_t::_start_segment() {
    const uint64_t number = m_segments.empty() ? m_ack.segment : m_segments.back().number + 1;
    const int fd = ::open(_segment_path(number).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    sync_directory(m_directory);
    if (m_append_fd >= 0) {
        ::fdatasync(m_append_fd);
        ::close(m_append_fd);
    }
    m_append_fd = fd;
    m_segments.push_back({number, 0});
    return true;
}

pub_spool_t::append_result_t pub_spool_t::append(const std::string& payload, uint64_t readings) {
    if (payload.size() > max_record_payload || readings > UINT32_MAX) return append_error;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_append_fd < 0 || m_segments.empty()) return append_error;
    const uint64_t size = header_bytes + payload.size();
    if (m_disk_bytes + size > m_cap_bytes) return append_full;
    if (m_segments.back().size > 0 && m_segments.back().size + size > m_segment_limit) {
        if (!_start_segment()) return append_error;
    }
    const uint32_t count = static_cast<uint32_t>(readings);
    uint32_t header[header_words] = {record_magic, static_cast<uint32_t>(payload.size()), count,
                                     record_crc(count, payload.data(), payload.size())};
    iovec parts[2] = {{header, header_bytes}, {const_cast<char*>(payload.data()), payload.size()}};
    const ssize_t n = ::writev(m_append_fd, parts, 2);
    if (n != static_cast<ssize_t>(size)) {
        // Leave no partial record behind for the next append to follow.
        if (::ftruncate(m_append_fd, static_cast<off_t>(m_segments.back().size)) != 0) {
            ::close(m_append_fd);
            m_append_fd = -1;
        }
        return append_error;
    }
    m_segments.back().size += size;
    m_disk_bytes += size;
    m_pending_bytes += size;
    m_pending_readings += readings;
    return append_ok;
}

bool pub_spool_t::sync() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_append_fd >= 0 && ::fdatasync(m_append_fd) == 0;
}

pub_spool_batch_t pub_spool_t::peek(std::size_t max_bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    pub_spool_batch_t batch;
    pub_spool_position_t pos = m_ack;
    for (const segment_t& seg : m_segments) {
        if (seg.number < pos.segment) continue;
        if (seg.number > pos.segment) pos = {seg.number, 0};
        if (pos.offset >= seg.size) continue;
        const int fd = ::open(_segment_path(seg.number).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        bool stop = false;
        while (pos.offset + header_bytes <= seg.size) {
            uint32_t header[header_words];
            if (!read_exact(fd, header, header_bytes, pos.offset) || header[0] != record_magic ||
                pos.offset + header_bytes + header[1] > seg.size) {
                stop = true;
                break;
            }
            if (batch.records > 0 && batch.payload.size() + header[1] > max_bytes) {
                stop = true;
                break;
            }
            const std::size_t mark = batch.payload.size();
            batch.payload.resize(mark + header[1]);
            if (!read_exact(fd, batch.payload.data() + mark, header[1], pos.offset + header_bytes)) {
                batch.payload.resize(mark);
                stop = true;
                break;
            }
            batch.readings += header[2];
            batch.records += 1;
            batch.bytes += header_bytes + header[1];
            pos.offset += header_bytes + header[1];
            batch.end = pos;
        }
        ::close(fd);
        if (stop) break;
    }
    return batch;
}

void pub_spool_t::_advance(const pub_spool_batch_t& batch) {
    m_ack = batch.end;
    m_pending_bytes -= std::min(m_pending_bytes, batch.bytes);
    m_pending_readings -= std::min(m_pending_readings, batch.readings);
    m_ack_lags = true;
    _flush_ack(false);
    _delete_delivered();
}

void pub_spool_t::ack(const pub_spool_batch_t& batch) {
    if (batch.records == 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    _advance(batch);
}

void pub_spool_t::set_aside(const pub_spool_batch_t& batch, const std::string& reason) {
    if (batch.records == 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string stem = rejected_directory() + "/" + std::to_string(++m_rejected_number);
    {
        std::ofstream lines(stem + ".lp", std::ios::binary);
        lines << batch.payload;
        std::ofstream why(stem + ".txt");
        why << reason << "\n" << batch.readings << " readings\n";
    }
    _advance(batch);
}

void pub_spool_t::flush_ack() {
    std::lock_guard<std::mutex> lock(m_mutex);
    _flush_ack(false);
}

void pub_spool_t::_flush_ack(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!m_ack_lags || (!force && now - m_ack_written_at < ack_interval)) return;
    if (_write_ack()) {
        m_ack_lags = false;
        m_ack_written_at = now;
    }
}

bool pub_spool_t::_write_ack() {
    const std::string tmp = m_directory + "/ack.tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string text = std::to_string(m_ack.segment) + " " + std::to_string(m_ack.offset) + "\n";
    const bool ok = write_all(fd, text) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), (m_directory + "/ack").c_str()) != 0) return false;
    return sync_directory(m_directory);
}

void pub_spool_t::_delete_delivered() {
    // Every segment before the ack's is delivered; so is the ack's own once the ack
    // reached its end and a later segment takes the appends.
    while (m_segments.size() > 1) {
        const segment_t& front = m_segments.front();
        const bool done = front.number < m_ack.segment || (front.number == m_ack.segment && m_ack.offset >= front.size);
        if (!done) break;
        ::unlink(_segment_path(front.number).c_str());
        m_disk_bytes -= std::min(m_disk_bytes, front.size);
        m_segments.pop_front();
        if (m_ack.segment < m_segments.front().number) m_ack = {m_segments.front().number, 0};
    }
    // The only segment, fully delivered: start it over so it does not grow forever.
    if (m_segments.size() == 1 && m_ack.segment == m_segments.front().number &&
        m_ack.offset >= m_segments.front().size && m_segments.front().size >= m_segment_limit) {
        // The old segment goes only once the new one is open: when it cannot be (no file
        // descriptor, no space), appends go on into the old one.
        const uint64_t old = m_segments.front().number;
        if (_start_segment()) {
            m_segments.pop_front();
            m_ack = {old + 1, 0};
            ::unlink(_segment_path(old).c_str());
            m_disk_bytes = 0;
            _write_ack();
        }
    }
}

uint64_t pub_spool_t::pending_readings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending_readings;
}

uint64_t pub_spool_t::pending_bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending_bytes;
}

uint64_t pub_spool_t::disk_bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_disk_bytes;
}

uint64_t pub_spool_t::dropped_tail_bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped_tail;
}
