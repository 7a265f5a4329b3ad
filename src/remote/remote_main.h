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
// raise remote_notify_link_lost once, on the link thread. The notify callback is
// called outside every lock; replacing it waits for a call running on another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "nsp_src/lib/thd/lib_thd_engine.h"

enum plib_remote_notify_t {
    remote_notify_link_lost = 0,
};

// Text of a VISA status for diagnostics and the command-line tool: the known statuses
// of the link's table, "unknown error" for every other value.
const char* remote_status_text(int status);

class remote_main_t : public nsp::thd::engine_t<plib_remote_notify_t> {
public:
    static constexpr std::size_t read_buffer_size = 800000;
    static constexpr int link_lost_failures = 6;  // consecutive failures of one kind
    static constexpr const char* find_expression = "(USB|TCPIP)?*INSTR";

    remote_main_t();
    ~remote_main_t();

    // Caller operations: each runs on the link thread and returns the VISA status of the
    // last VISA call it made (resource_available: 1 or 0).
    int open(const std::string& resource, unsigned long& session);
    int close(unsigned long session);
    int write(unsigned long session, const std::string& bytes);
    int read(unsigned long session, std::string& reply);
    // A read for the user's console: the user may read when the instrument has nothing
    // to say, so its failures do not count toward the link's failure rule.
    int console_read(unsigned long session, std::string& reply);
    // Status of the write if it failed (reply untouched), else of the read.
    int query(unsigned long session, const std::string& command, std::string& reply);
    // Appends the instruments that "(USB|TCPIP)?*INSTR" finds and that can be opened now.
    int find_resource(std::vector<std::string>& resources);
    int resource_available(const std::string& resource);
    int set_timeout(unsigned long session, int milliseconds);
    int get_timeout(unsigned long session, int& milliseconds);

    // set_notify_callback (engine_t): the callback runs on the link thread.

private:
    // Handlers, run on the link thread only.
    int _set_timeout(unsigned long session, int milliseconds);
    int _get_timeout(unsigned long session, int& milliseconds);
    int _find_resource(std::vector<std::string>& resources);
    int _open(const std::string& resource, unsigned long& session);
    int _close(unsigned long session);
    int _write(unsigned long session, const std::string& bytes);
    int _read(unsigned long session, std::string& reply);
    int _console_read(unsigned long session, std::string& reply);
    // One viRead into the reply; `count` says whether the result counts.
    int _read_once(unsigned long session, std::string& reply, bool count);
    int _query(unsigned long session, const std::string& command, std::string& reply);
    int _resource_available(const std::string& resource);

    template <typename... Args>
    using args_t = nsp::thd::msg_args_t<Args...>;

public:
    // The eight messages (registered in member order below). session, milliseconds:
    // on_set sets the I/O time-out, on_get reads it.
    using remote_msg_timeout_t =
        nsp::thd::handler_msg_t<args_t<const unsigned long, int>, &remote_main_t::_set_timeout,
                                &remote_main_t::_get_timeout>;
    // resource list (appended to): discovery.
    using remote_msg_find_resource_t =
        nsp::thd::handler_msg_t<args_t<std::vector<std::string>>, &remote_main_t::_find_resource>;
    // resource, session (out).
    using remote_msg_open_t =
        nsp::thd::handler_msg_t<args_t<const std::string, unsigned long>, &remote_main_t::_open>;
    // session.
    using remote_msg_close_t = nsp::thd::handler_msg_t<args_t<const unsigned long>, &remote_main_t::_close>;
    // session, bytes (sent unchanged: the caller includes the "\n").
    using remote_msg_write_t =
        nsp::thd::handler_msg_t<args_t<const unsigned long, const std::string>, &remote_main_t::_write>;
    // session, reply (out; replaced by the bytes read, empty on failure).
    using remote_msg_read_t =
        nsp::thd::handler_msg_t<args_t<const unsigned long, std::string>, &remote_main_t::_read>;
    // session, reply (out): a read whose failures do not count.
    using remote_msg_console_read_t =
        nsp::thd::handler_msg_t<args_t<const unsigned long, std::string>, &remote_main_t::_console_read>;
    // session, command, reply (out): write, pause 10 ms, read.
    using remote_msg_query_t =
        nsp::thd::handler_msg_t<args_t<const unsigned long, const std::string, std::string>,
                                &remote_main_t::_query>;
    // resource: 1 when it can be opened now, else 0.
    using remote_msg_resource_available_t =
        nsp::thd::handler_msg_t<args_t<const std::string>, &remote_main_t::_resource_available>;

private:
    // Counts a failure (or resets on success) and raises link lost on the sixth in a row;
    // the session of that sixth failure is then lost (see m_lost_sessions).
    void _count_result(unsigned long session, int status, int& failures);
    bool _is_lost(unsigned long session) const { return m_lost_sessions.count(session) != 0; }

    std::uint32_t m_default_session = 0;  // VISA default resource manager

    // Touched only by the link thread. Per engine: one dead instrument must not count
    // against another one.
    int m_write_failures = 0;
    int m_read_failures = 0;
    // Sessions that met the failure rule. Every further write or read on one fails at
    // once with VI_ERROR_CONN_LOST (and counts): a transfer to a dead instrument ends at
    // the rule instead of waiting out one time-out per command. Closing the session (or
    // opening a new one with the same handle) clears it. Link thread only.
    std::set<unsigned long> m_lost_sessions;
    // Allocated once on the heap: 800 KB on the link thread's stack per read is too
    // close to common thread stack limits.
    std::unique_ptr<unsigned char[]> m_read_buffer;

    remote_msg_timeout_t m_msg_timeout{this};
    remote_msg_find_resource_t m_msg_find_resource{this};
    remote_msg_open_t m_msg_open{this};
    remote_msg_close_t m_msg_close{this};
    remote_msg_write_t m_msg_write{this};
    remote_msg_read_t m_msg_read{this};
    remote_msg_console_read_t m_msg_console_read{this};
    remote_msg_query_t m_msg_query{this};
    remote_msg_resource_available_t m_msg_resource_available{this};
};

using remote_msg_timeout_t = remote_main_t::remote_msg_timeout_t;
using remote_msg_find_resource_t = remote_main_t::remote_msg_find_resource_t;
using remote_msg_open_t = remote_main_t::remote_msg_open_t;
using remote_msg_close_t = remote_main_t::remote_msg_close_t;
using remote_msg_write_t = remote_main_t::remote_msg_write_t;
using remote_msg_read_t = remote_main_t::remote_msg_read_t;
using remote_msg_console_read_t = remote_main_t::remote_msg_console_read_t;
using remote_msg_query_t = remote_main_t::remote_msg_query_t;
using remote_msg_resource_available_t = remote_main_t::remote_msg_resource_available_t;
