// The link engine: the only code that calls the VISA layer.
//
// One remote_main_t per instrument owns a default resource manager session and the
// worker thread "remote". Every VISA operation (open, close, write, read, query,
// discovery, availability probe, time-out) is a message executed on that thread; the
// public member functions below send those messages and block until the VISA call has
// completed. Results are VISA statuses (0 = VI_SUCCESS, 0x3FFF0006 = VI_SUCCESS_MAX_CNT:
// the reply filled the read buffer and more follows, call read() again and append).
//
// The engine does not hold instrument sessions: callers keep the session from open()
// and pass it to every call. Six consecutive failed writes (or reads) of this engine
// raise remote_notify_link_lost once, on the link thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_msg.h"
#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

enum plib_remote_notify_t {
    remote_notify_link_lost = 0,
};

// Text of a VISA status for diagnostics and the command-line tool: the known statuses
// of the link's table, "unkown error" for every other value.
const char* remote_status_text(int status);

class remote_main_t;

// Second base of every link message: the engine that owns and executes it.
struct remote_msg_t {
    remote_main_t* owner = nullptr;
};

// session, milliseconds: on_set sets the I/O time-out, on_get reads it.
class remote_msg_timeout_t : public nsp::thd::msg_t<const unsigned long, int>, public remote_msg_t {
protected:
    int on_set(const unsigned long& session, int& milliseconds) override;
    int on_get(const unsigned long& session, int& milliseconds) override;
};

// resource list (appended to): discovery.
class remote_msg_find_resource_t : public nsp::thd::msg_t<std::vector<std::string>>, public remote_msg_t {
protected:
    int on_set(std::vector<std::string>& resources) override;
};

// resource, session (out).
class remote_msg_open_t : public nsp::thd::msg_t<const std::string, unsigned long>, public remote_msg_t {
protected:
    int on_set(const std::string& resource, unsigned long& session) override;
};

// session.
class remote_msg_close_t : public nsp::thd::msg_t<const unsigned long>, public remote_msg_t {
protected:
    int on_set(const unsigned long& session) override;
};

// session, bytes (sent unchanged: the caller includes the "\n").
class remote_msg_write_t : public nsp::thd::msg_t<const unsigned long, const std::string>,
                           public remote_msg_t {
protected:
    int on_set(const unsigned long& session, const std::string& bytes) override;
};

// session, reply (out; replaced by the bytes read, empty on failure).
class remote_msg_read_t : public nsp::thd::msg_t<const unsigned long, std::string>, public remote_msg_t {
protected:
    int on_set(const unsigned long& session, std::string& reply) override;
};

// session, command, reply (out): write, pause 10 ms, read.
class remote_msg_query_t : public nsp::thd::msg_t<const unsigned long, const std::string, std::string>,
                           public remote_msg_t {
protected:
    int on_set(const unsigned long& session, const std::string& command, std::string& reply) override;
};

// resource: 1 when it can be opened now, else 0.
class remote_msg_resource_available_t : public nsp::thd::msg_t<const std::string>, public remote_msg_t {
protected:
    int on_set(const std::string& resource) override;
};

class remote_main_t {
public:
    static constexpr std::size_t read_buffer_size = 800000;
    static constexpr int link_lost_failures = 6;  // consecutive failures of one kind
    static constexpr const char* find_expression = "(USB|TCPIP)?*INSTR";

    remote_main_t();
    ~remote_main_t();
    remote_main_t(const remote_main_t&) = delete;
    remote_main_t& operator=(const remote_main_t&) = delete;

    // Caller operations: each runs on the link thread and returns the VISA status of the
    // last VISA call it made (resource_available: 1 or 0).
    int open(const std::string& resource, unsigned long& session);
    int close(unsigned long session);
    int write(unsigned long session, const std::string& bytes);
    int read(unsigned long session, std::string& reply);
    // Status of the write if it failed (reply untouched), else of the read.
    int query(unsigned long session, const std::string& command, std::string& reply);
    // Appends the instruments that "(USB|TCPIP)?*INSTR" finds and that can be opened now.
    int find_resource(std::vector<std::string>& resources);
    int resource_available(const std::string& resource);
    int set_timeout(unsigned long session, int milliseconds);
    int get_timeout(unsigned long session, int& milliseconds);

    // Replaces the notify callback; may be called from any thread. The callback runs on
    // the link thread and must not call set_notify_callback itself. Once this returns,
    // the previous callback is no longer running and will not be called again.
    void set_notify_callback(std::function<void(plib_remote_notify_t)> callback);

private:
    friend class remote_msg_timeout_t;
    friend class remote_msg_find_resource_t;
    friend class remote_msg_open_t;
    friend class remote_msg_close_t;
    friend class remote_msg_write_t;
    friend class remote_msg_read_t;
    friend class remote_msg_query_t;
    friend class remote_msg_resource_available_t;

    // Handlers, run on the link thread only.
    int _set_timeout(unsigned long session, int milliseconds);
    int _get_timeout(unsigned long session, int& milliseconds);
    int _find_resource(std::vector<std::string>& resources);
    int _open(const std::string& resource, unsigned long& session);
    int _close(unsigned long session);
    int _write(unsigned long session, const std::string& bytes);
    int _read(unsigned long session, std::string& reply);
    int _query(unsigned long session, const std::string& command, std::string& reply);
    int _resource_available(const std::string& resource);

    // Counts a failure (or resets on success) and raises link lost on the sixth in a row.
    void _count_result(int status, int& failures);
    bool _notify(plib_remote_notify_t notify);  // false when no callback is set
    void _start_thread();
    static void thread_main(nsp::thd::msg_manager_t& manager, std::atomic<bool>& quit);

    std::uint32_t m_default_session = 0;  // VISA default resource manager
    std::function<void(plib_remote_notify_t)> m_notify_callback;
    std::mutex m_notify_mutex;  // guards m_notify_callback: set by the UI, called by the link thread

    // Touched only by the link thread. Per engine: one dead instrument must not count
    // against another one.
    int m_write_failures = 0;
    int m_read_failures = 0;
    // Allocated once on the heap: 800 KB on the link thread's stack per read is too
    // close to common thread stack limits.
    std::unique_ptr<unsigned char[]> m_read_buffer;

    remote_msg_timeout_t m_msg_timeout;
    remote_msg_find_resource_t m_msg_find_resource;
    remote_msg_open_t m_msg_open;
    remote_msg_close_t m_msg_close;
    remote_msg_write_t m_msg_write;
    remote_msg_read_t m_msg_read;
    remote_msg_query_t m_msg_query;
    remote_msg_resource_available_t m_msg_resource_available;
    nsp::thd::msg_manager_t m_msg_manager;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;  // last: started once everything above exists
};
