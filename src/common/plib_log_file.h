// Files that belong to one writer: the record and scan logs.
//
// A log file is created new and exclusively (never a file that is already there, never
// through a symbolic link, never a pipe or a device): when its name is taken, the next
// free alternative "<stem> (2)<ext>", "<stem> (3)<ext>", ... is created instead, and a
// name longer than the file system allows is shortened to a prefix plus a hash of the
// whole name, so two long names still differ. Every later append reopens the file by
// name without following links and checks that it is still the very file created
// (device and inode): anything put in its place is refused, never written or cut.
//
// New files get mode 0666 less the process umask, as any program's files do; files made
// under a temporary name (exports, project saves) get the same mode with
// plib_apply_file_mode.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// Identity of a created file.
struct plib_log_file_id_t {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool valid() const { return dev != 0 || ino != 0; }
};

struct plib_log_create_t {
    int fd = -1;           // open for appending (the caller closes it); -1 on failure
    std::string path;      // the path created: the one asked for, or its alternative
    plib_log_file_id_t id;
    int error = 0;         // errno of the failure
    bool renamed() const { return !path.empty() && path != requested; }
    std::string requested;  // the path asked for
};

// Alternatives tried after the name asked for, before giving up.
inline constexpr int plib_log_file_alternatives = 999;

// Creates `path` (or a free alternative) as a new regular file of this writer.
plib_log_create_t plib_log_file_create(const std::string& path);

// Opens the file created as `id` at `path` for appending (or reading and writing):
// -1 with errno set when the name holds anything else (ELOOP for a link, EEXIST for
// another file, ENXIO or EEXIST for a pipe).
int plib_log_file_open_owned(const std::string& path, const plib_log_file_id_t& id, bool read_write = false);

// "<stem> (n)<ext>" for a file name (no directory); n >= 2.
std::string plib_log_file_alternative(const std::string& name, int n);

// A file name of at most `max_bytes` bytes: unchanged when it fits, else a prefix cut
// at a character boundary, "~", 16 hex digits of a hash of the whole name, and the
// extension. Room for an alternative's " (n)" is kept.
std::string plib_log_file_short_name(const std::string& name, std::size_t max_bytes);

// The process umask, read without changing it.
mode_t plib_process_umask();
// Gives a file the mode a new file of this process gets (0666 less the umask).
int plib_apply_file_mode(int fd);
