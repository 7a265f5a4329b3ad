// A scripted stand-in for the link engine: records every command written or queried
// and replays prepared replies, in order, to query and read.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "drv/drv_link.h"
#include "visa/visa.h"

namespace velkaro_test {

class drv_fake_link_t : public drv_link_t {
public:
    struct reply_t {
        int status = 0;
        std::string text;
    };

    std::vector<std::string> commands;  // writes and query commands, in order
    std::deque<reply_t> replies;        // consumed by query and read
    int write_status = 0;               // status of every write (and of a query's write)
    int open_status = 0;
    int close_status = 0;
    int available = 1;
    unsigned long next_session = 42;
    std::vector<std::string> opened;
    std::vector<unsigned long> closed;
    std::vector<unsigned long> sessions;  // session of each command

    void reply(std::string text, int status = 0) { replies.push_back({status, std::move(text)}); }

    int open(const std::string& resource, unsigned long& session) override {
        opened.push_back(resource);
        if (open_status == 0) session = next_session;
        return open_status;
    }
    int close(unsigned long session) override {
        closed.push_back(session);
        return close_status;
    }
    int write(unsigned long session, const std::string& bytes) override {
        commands.push_back(bytes);
        sessions.push_back(session);
        return write_status;
    }
    int read(unsigned long /*session*/, std::string& reply) override {
        if (replies.empty()) {
            reply.clear();
            return visa::VI_ERROR_TMO;
        }
        reply = replies.front().text;
        const int status = replies.front().status;
        replies.pop_front();
        return status;
    }
    int query(unsigned long session, const std::string& command, std::string& reply) override {
        const int status = write(session, command);
        if (status != 0) return status;
        return read(session, reply);
    }
    int resource_available(const std::string& /*resource*/) override { return available; }
};

}  // namespace velkaro_test
