// The on-disk spool: order, replay after a reopen, torn and corrupt tails, the cap,
// refused batches kept aside.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "pub/pub_spool.h"
#include "support/temp_dir.h"

namespace {

std::string batch_text(int i) { return "m value=" + std::to_string(i) + " " + std::to_string(1000 + i) + "\n"; }

std::vector<std::string> segment_files(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().rfind("seg-", 0) == 0) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Reads everything left, acknowledging as it goes; returns the payloads joined.
std::string drain(pub_spool_t& spool, std::size_t max_bytes = 1 << 20) {
    std::string all;
    for (int guard = 0; guard < 100000; ++guard) {
        pub_spool_batch_t b = spool.peek(max_bytes);
        if (b.records == 0) break;
        all += b.payload;
        spool.ack(b);
    }
    return all;
}

TEST(pub_spool, delivers_in_order_across_segments_and_reopens_at_the_ack) {
    velkaro_test::temp_dir_t dir;
    const std::string path = dir.path() + "/q";
    std::string expected_rest;
    {
        pub_spool_t spool(path, 128 * 1024);  // small segments (32 KiB): several of them
        std::string error;
        ASSERT_TRUE(spool.open(error)) << error;
        for (int i = 0; i < 2000; ++i) ASSERT_EQ(spool.append(batch_text(i), 1), pub_spool_t::append_ok) << i;
        // 2000 records of about 34 bytes: under the cap, over three segments.
        EXPECT_EQ(spool.pending_readings(), 2000u);
        EXPECT_GT(segment_files(path).size(), 2u);
        // Deliver the first 700 in batches of about 1 KiB.
        uint64_t delivered = 0;
        while (delivered < 700) {
            pub_spool_batch_t b = spool.peek(1024);
            ASSERT_GT(b.records, 0u);
            const std::string expected_head = batch_text(static_cast<int>(delivered));
            EXPECT_EQ(b.payload.compare(0, expected_head.size(), expected_head), 0);
            spool.ack(b);
            delivered += b.readings;
        }
        for (uint64_t i = delivered; i < 2000; ++i) expected_rest += batch_text(static_cast<int>(i));
        EXPECT_EQ(spool.pending_readings(), 2000 - delivered);
    }
    // A new process: the rest, in order, once.
    pub_spool_t again(path, 128 * 1024);
    std::string error;
    ASSERT_TRUE(again.open(error)) << error;
    EXPECT_EQ(drain(again), expected_rest);
    EXPECT_EQ(again.pending_readings(), 0u);
    // Delivered segments are gone.
    EXPECT_LE(segment_files(path).size(), 2u);
}

TEST(pub_spool, a_second_owner_is_refused) {
    velkaro_test::temp_dir_t dir;
    pub_spool_t first(dir.path() + "/q", 1 << 20);
    pub_spool_t second(dir.path() + "/q", 1 << 20);
    std::string error;
    ASSERT_TRUE(first.open(error)) << error;
    EXPECT_FALSE(second.open(error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

// Damage done to the last segment after the records were written, as a crash or a bad
// disk leaves it: what was whole before the damage is replayed, the rest dropped.
struct tail_case_t {
    const char* name;
    int records_kept;  // of 10
    std::function<void(const std::string& segment, const std::vector<uint64_t>& ends)> damage;
};

TEST(pub_spool, replays_whole_records_and_drops_a_torn_or_corrupt_tail) {
    const tail_case_t cases[] = {
        {"torn in the payload", 9,
         [](const std::string& seg, const std::vector<uint64_t>& ends) {
             ASSERT_EQ(::truncate(seg.c_str(), static_cast<off_t>(ends[8] + 20)), 0);
         }},
        {"torn in the header", 9,
         [](const std::string& seg, const std::vector<uint64_t>& ends) {
             ASSERT_EQ(::truncate(seg.c_str(), static_cast<off_t>(ends[8] + 5)), 0);
         }},
        {"flipped byte in record 7", 6,
         [](const std::string& seg, const std::vector<uint64_t>& ends) {
             std::fstream f(seg, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(static_cast<std::streamoff>(ends[6] - 3));
             f.put('#');
         }},
        {"garbage appended", 10,
         [](const std::string& seg, const std::vector<uint64_t>&) {
             std::ofstream f(seg, std::ios::app | std::ios::binary);
             f << "\x01\x02garbage that is no record";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        velkaro_test::temp_dir_t dir;
        const std::string path = dir.path() + "/q";
        std::vector<uint64_t> ends;
        {
            pub_spool_t spool(path, 1 << 20);
            std::string error;
            ASSERT_TRUE(spool.open(error)) << error;
            for (int i = 0; i < 10; ++i) {
                ASSERT_EQ(spool.append(batch_text(i), 1), pub_spool_t::append_ok);
                ends.push_back(spool.disk_bytes());
            }
        }
        const auto segs = segment_files(path);
        ASSERT_EQ(segs.size(), 1u);
        c.damage(segs[0], ends);
        pub_spool_t again(path, 1 << 20);
        std::string error;
        ASSERT_TRUE(again.open(error)) << error;
        EXPECT_EQ(again.pending_readings(), static_cast<uint64_t>(c.records_kept));
        std::string expected;
        for (int i = 0; i < c.records_kept; ++i) expected += batch_text(i);
        // New appends follow the last whole record, not the damage.
        ASSERT_EQ(again.append(batch_text(99), 1), pub_spool_t::append_ok);
        EXPECT_EQ(drain(again), expected + batch_text(99));
    }
}

TEST(pub_spool, the_cap_refuses_appends_until_records_are_delivered) {
    velkaro_test::temp_dir_t dir;
    pub_spool_t spool(dir.path() + "/q", 16 * 1024);
    std::string error;
    ASSERT_TRUE(spool.open(error)) << error;
    const std::string big(1000, 'x');
    int accepted = 0;
    while (spool.append(big + "\n", 10) == pub_spool_t::append_ok && accepted < 1000) ++accepted;
    EXPECT_GE(accepted, 10);
    EXPECT_LE(spool.disk_bytes(), 16u * 1024);
    EXPECT_EQ(spool.append(big + "\n", 10), pub_spool_t::append_full);
    EXPECT_EQ(spool.pending_readings(), static_cast<uint64_t>(accepted) * 10);
    // Delivering frees room again.
    drain(spool, 4096);
    EXPECT_EQ(spool.append(big + "\n", 10), pub_spool_t::append_ok);
}

TEST(pub_spool, refused_records_are_kept_aside_with_the_reason) {
    velkaro_test::temp_dir_t dir;
    pub_spool_t spool(dir.path() + "/q", 1 << 20);
    std::string error;
    ASSERT_TRUE(spool.open(error)) << error;
    ASSERT_EQ(spool.append(batch_text(1), 1), pub_spool_t::append_ok);
    ASSERT_EQ(spool.append(batch_text(2), 1), pub_spool_t::append_ok);
    pub_spool_batch_t b = spool.peek(1);  // one record
    ASSERT_EQ(b.records, 1u);
    spool.set_aside(b, "HTTP 404: database not found");
    EXPECT_EQ(spool.pending_readings(), 1u);
    std::ifstream lp(spool.rejected_directory() + "/1.lp"), why(spool.rejected_directory() + "/1.txt");
    std::string lines((std::istreambuf_iterator<char>(lp)), {}), reason;
    std::getline(why, reason);
    EXPECT_EQ(lines, batch_text(1));
    EXPECT_EQ(reason, "HTTP 404: database not found");
    EXPECT_EQ(drain(spool), batch_text(2));
}

}  // namespace

// The process dies (no destructor runs) right after acknowledging deliveries faster than
// the ack file follows them: the next owner sends again what the file does not yet show,
// from a record boundary and in order, and never skips a record that was not delivered.
TEST(pub_spool, a_crash_resends_what_the_ack_file_lags_and_skips_nothing) {
    velkaro_test::temp_dir_t dir;
    const std::string path = dir.path() + "/q";
    std::string all;
    for (int i = 0; i < 10; ++i) all += batch_text(i);
    struct case_t {
        const char* name;
        int delivered;  // records acknowledged before the crash, one at a time
    } cases[] = {{"nothing delivered", 0}, {"one delivered", 1}, {"several in quick succession", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(path);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The child: no gtest assertions, an exit code instead; _exit skips destructors.
            auto* spool = new pub_spool_t(path, 1 << 20);
            std::string error;
            if (!spool->open(error)) ::_exit(2);
            for (int i = 0; i < 10; ++i)
                if (spool->append(batch_text(i), 1) != pub_spool_t::append_ok) ::_exit(3);
            if (!spool->sync()) ::_exit(4);
            for (int i = 0; i < c.delivered; ++i) spool->ack(spool->peek(1));
            ::_exit(0);
        }
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        pub_spool_t again(path, 1 << 20);
        std::string error;
        ASSERT_TRUE(again.open(error)) << error;
        const std::string rest = drain(again);
        // A whole-record suffix of everything, holding at least what was not delivered.
        ASSERT_GE(rest.size(), all.size() - c.delivered * batch_text(0).size());
        EXPECT_EQ(all.compare(all.size() - rest.size(), rest.size(), rest), 0) << rest;
        EXPECT_TRUE(rest.empty() || rest.rfind("m value=", 0) == 0) << rest;
    }
}

// The only segment, delivered and full, is started over; when the new segment cannot be
// opened (here: no file descriptor left) the spool keeps the old one, refuses the append
// cleanly, and takes appends again once it can. Run in a child: the limit is per process.
TEST(pub_spool, starting_the_only_segment_over_survives_a_failed_open) {
    velkaro_test::temp_dir_t dir;
    const std::string path = dir.path() + "/q";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int step = 1;
        auto check = [&step](bool ok) {
            if (!ok) ::_exit(step);
            ++step;
        };
        pub_spool_t spool(path, 16 * 1024);  // segments of 4 KiB
        std::string error;
        check(spool.open(error));
        const std::string big(5000, 'x');  // alone, more than a segment
        check(spool.append(big + "\n", 1) == pub_spool_t::append_ok);
        pub_spool_batch_t batch = spool.peek(1 << 20);
        check(batch.records == 1);
        rlimit before{};
        check(::getrlimit(RLIMIT_NOFILE, &before) == 0);
        const int lowest_free = ::dup(0);
        check(lowest_free >= 0);
        ::close(lowest_free);
        rlimit none = before;
        none.rlim_cur = static_cast<rlim_t>(lowest_free);  // no open() succeeds now
        check(::setrlimit(RLIMIT_NOFILE, &none) == 0);
        spool.ack(batch);  // delivered: the segment would start over, but cannot
        check(spool.append("m value=1 1\n", 1) == pub_spool_t::append_error);
        check(::setrlimit(RLIMIT_NOFILE, &before) == 0);
        check(spool.append("m value=2 2\n", 1) == pub_spool_t::append_ok);
        batch = spool.peek(1 << 20);
        check(batch.records == 1 && batch.payload == "m value=2 2\n");
        spool.ack(batch);
        check(spool.pending_readings() == 0);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed";
    // Reopened, the spool holds nothing undelivered.
    pub_spool_t spool(path, 16 * 1024);
    std::string error;
    ASSERT_TRUE(spool.open(error)) << error;
    EXPECT_EQ(spool.pending_readings(), 0u);
}
