#include "common/plib_log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace {

constexpr std::size_t alternative_room = 8;  // " (999)" and a little

std::string dir_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& path, const std::string& name) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

std::size_t name_max(const std::string& dir) {
    const long n = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return n > 16 ? static_cast<std::size_t>(n) : 255;
}

uint64_t fnv1a(const std::string& text) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

std::size_t ext_pos(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    // A leading dot or a long "extension" is part of the stem.
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 8) return name.size();
    return dot;
}

}  // namespace

std::string plib_log_file_alternative(const std::string& name, int n) {
    const std::size_t dot = ext_pos(name);
    return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

std::string plib_log_file_short_name(const std::string& name, std::size_t max_bytes) {
    if (name.size() + alternative_room <= max_bytes) return name;
    const std::size_t dot = ext_pos(name);
    const std::string ext = name.substr(dot);
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(fnv1a(name)));
    const std::size_t fixed = ext.size() + std::strlen(hash) + alternative_room;
    std::size_t keep = max_bytes > fixed ? max_bytes - fixed : 0;
    if (keep > dot) keep = dot;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + hash + ext;
}

mode_t plib_process_umask() {
    // /proc tells it without changing it (umask(2) would, for every thread); read at
    // each call, as the umask may change during the process.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "Umask:") != 0) continue;
        return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    const mode_t old = ::umask(022);
    ::umask(old);
    return old;
}

int plib_apply_file_mode(int fd) { return ::fchmod(fd, 0666 & ~plib_process_umask()); }

plib_log_create_t plib_log_file_create(const std::string& path) {
    plib_log_create_t out;
    out.requested = path;
    const std::string dir = dir_of(path);
    std::string name = name_of(path);
    bool shortened = false;
    for (int n = 1; n <= plib_log_file_alternatives + 1; ++n) {
        const std::string candidate = join(path, n == 1 ? name : plib_log_file_alternative(name, n));
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                out.error = errno ? errno : EINVAL;
                ::close(fd);
                return out;
            }
            out.fd = fd;
            out.path = candidate;
            out.id.dev = static_cast<uint64_t>(st.st_dev);
            out.id.ino = static_cast<uint64_t>(st.st_ino);
            return out;
        }
        if (errno == ENAMETOOLONG && !shortened) {
            shortened = true;
            name = plib_log_file_short_name(name, name_max(dir));
            n = 0;  // the shortened name itself first
            continue;
        }
        if (errno == EINTR) {
            --n;
            continue;
        }
        if (errno != EEXIST) {
            out.error = errno;
            return out;
        }
    }
    out.error = EEXIST;
    return out;
}

int plib_log_file_open_owned(const std::string& path, const plib_log_file_id_t& id, bool read_write) {
    if (!id.valid()) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking: a pipe put at the name must not hold the writer.
    const int flags = (read_write ? O_RDWR : O_WRONLY | O_APPEND) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_dev) != id.dev ||
        static_cast<uint64_t>(st.st_ino) != id.ino) {
        ::close(fd);
        errno = EEXIST;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
