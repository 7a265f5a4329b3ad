// The single log file under crashes and failed writes: every reading that reached the
// file stays on disk at every step of an append, a failed append leaves the file as it
// was, and the engine reports a failed write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/plib_number.h"
#include "scan/scan_record_file.h"
#include "scan_test_util.h"

namespace {

using columns_t = std::vector<std::vector<double>>;
using batch_t = std::map<std::size_t, std::vector<double>>;

// The whole file a table of these columns must be.
std::string render(const columns_t& columns) {
    std::size_t rows = 0;
    for (const auto& c : columns) rows = std::max(rows, c.size());
    std::string out = "a,b,c";
    if (rows) out += "\n";
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c) out += ",";
            if (r < columns[c].size()) out += format_general(columns[c][r], 17);
        }
        out += "\n";
    }
    return out;
}

// A ragged append: column b lags, so earlier rows on disk get rewritten.
batch_t batch(int step) {
    batch_t b;
    b[0] = {step + 0.25, step + 0.5};
    if (step % 2 == 1) b[1] = {step * 3.0, step * 3.0 + 1, step * 3.0 + 2, step * 3.0 + 3};
    if (step % 3 == 0) b[2] = {-step * 1.0 / 7.0};
    return b;
}

void add(columns_t& columns, const batch_t& b) {
    for (const auto& [c, values] : b) columns[c].insert(columns[c].end(), values.begin(), values.end());
}

struct step_case_t {
    scan_table_step_t step;
    const char* name;
    bool new_after_recovery;  // a crash here leaves the new table once recovered
};
const step_case_t step_cases[] = {
    {scan_table_step_t::journal_begin, "journal_begin", false},
    {scan_table_step_t::journal_half, "journal_half", false},
    {scan_table_step_t::file_begin, "file_begin", true},
    {scan_table_step_t::file_half, "file_half", true},
    {scan_table_step_t::journal_remove, "journal_remove", true},
};

// Every value of `columns` appears in `text` as a cell.
bool holds_every_reading(const std::string& text, const columns_t& columns) {
    for (const auto& c : columns)
        for (double v : c)
            if (text.find(format_general(v, 17)) == std::string::npos) return false;
    return true;
}

}  // namespace

// A crash at each step of an append (the first data row, a rewrite of ragged rows) never
// loses a reading already on disk: the file and its journal hold them all, and recovery
// leaves the old or the new table whole.
TEST(scan_table_faults, a_crash_at_any_step_keeps_every_reading_on_disk) {
    for (const int before : {0, 1, 4}) {
        for (const auto& c : step_cases) {
            SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(before) + " appends");
            scan_temp_dir_t dir;
            const std::string path = dir.path() + "/t.csv";
            const std::string journal = scan_csv_table_journal_path(path);
            columns_t columns(3);
            {
                scan_csv_table_file_t table;
                ASSERT_TRUE(table.create(path, {"a", "b", "c"}));
                for (int s = 0; s < before; ++s) {
                    ASSERT_TRUE(table.append(batch(s)));
                    add(columns, batch(s));
                }
                const std::string old_text = render(columns);
                ASSERT_EQ(scan_read_file(path), old_text);
                const step_case_t crash_at = c;
                table.set_fault_hook([crash_at](scan_table_step_t s) {
                    return s == crash_at.step ? scan_table_fault_t::crash : scan_table_fault_t::none;
                });
                EXPECT_FALSE(table.append(batch(before)));
                // The process "dies" here: whatever is on disk must hold every earlier reading.
                const std::string on_disk = scan_read_file(path) + scan_read_file(journal);
                EXPECT_TRUE(holds_every_reading(on_disk, columns));
            }
            columns_t after = columns;
            if (c.new_after_recovery) add(after, batch(before));
            EXPECT_TRUE(scan_csv_table_recover(path));
            EXPECT_EQ(scan_read_file(path), render(after));
            EXPECT_FALSE(std::filesystem::exists(journal));
            // Recovery is idempotent, and a new run appends behind the recovered table.
            EXPECT_TRUE(scan_csv_table_recover(path));
            EXPECT_EQ(scan_read_file(path), render(after));
        }
    }
}

// A write that fails at any step (a full disk) leaves the file exactly as it was, with
// no journal, and the table refuses further appends instead of writing a wrong table.
TEST(scan_table_faults, a_failed_write_at_any_step_leaves_the_file_as_it_was) {
    for (const auto& c : step_cases) {
        if (c.step == scan_table_step_t::journal_remove) continue;  // the file is whole by then
        SCOPED_TRACE(c.name);
        scan_temp_dir_t dir;
        const std::string path = dir.path() + "/t.csv";
        scan_csv_table_file_t table;
        ASSERT_TRUE(table.create(path, {"a", "b", "c"}));
        columns_t columns(3);
        for (int s = 0; s < 3; ++s) {
            ASSERT_TRUE(table.append(batch(s)));
            add(columns, batch(s));
        }
        const step_case_t fail_at = c;
        table.set_fault_hook([fail_at](scan_table_step_t s) {
            return s == fail_at.step ? scan_table_fault_t::fail : scan_table_fault_t::none;
        });
        EXPECT_FALSE(table.append(batch(3)));
        EXPECT_EQ(scan_read_file(path), render(columns));
        EXPECT_FALSE(std::filesystem::exists(scan_csv_table_journal_path(path)));
        table.set_fault_hook(nullptr);
        EXPECT_FALSE(table.append(batch(4)));
        EXPECT_EQ(scan_read_file(path), render(columns));
    }
}

// A torn journal (its length does not match) or one that is not a journal is dropped
// without touching the file; a journal whose offset lies past the file's end is refused.
TEST(scan_table_faults, recovery_drops_torn_journals_and_refuses_foreign_ones) {
    struct journal_case_t {
        const char* journal;
        bool ok;
        const char* file_after;
    };
    const journal_case_t cases[] = {
        {"", true, "a,b\n1,2\n"},
        {"8 4\n3,4", true, "a,b\n1,2\n"},
        {"x 4\n3,4\n", true, "a,b\n1,2\n"},
        {"-1 4\n3,4\n", true, "a,b\n1,2\n"},
        {"8", true, "a,b\n1,2\n"},
        {"8 4\n3,4\n", true, "a,b\n1,2\n3,4\n"},
        {"4 8\n1,2\n3,4\n", true, "a,b\n1,2\n3,4\n"},
        {"99 4\n3,4\n", false, "a,b\n1,2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        scan_temp_dir_t dir;
        const std::string path = dir.path() + "/t.csv";
        ASSERT_TRUE(scan_append_to_file(path, "a,b\n1,2\n"));
        ASSERT_TRUE(scan_append_to_file(scan_csv_table_journal_path(path), c.journal));
        EXPECT_EQ(scan_csv_table_recover(path), c.ok);
        EXPECT_EQ(scan_read_file(path), c.file_after);
        EXPECT_EQ(std::filesystem::exists(scan_csv_table_journal_path(path)), !c.ok);
    }
}

// Opening a run's log recovers every journal a crash left in the directory.
TEST(scan_table_faults, a_directory_is_recovered_journal_by_journal) {
    scan_temp_dir_t dir;
    for (const char* name : {"x.csv", "y.csv"}) {
        const std::string path = dir.path() + "/" + name;
        ASSERT_TRUE(scan_append_to_file(path, "a\n1\n"));
        ASSERT_TRUE(scan_append_to_file(scan_csv_table_journal_path(path), "2 4\n1\n2\n"));
    }
    ASSERT_TRUE(scan_append_to_file(dir.path() + "/other.tail", "2 4\n1\n2\n"));
    EXPECT_EQ(scan_csv_table_recover_directory(dir.path()), 2);
    EXPECT_EQ(scan_read_file(dir.path() + "/x.csv"), "a\n1\n2\n");
    EXPECT_EQ(scan_read_file(dir.path() + "/y.csv"), "a\n1\n2\n");
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/other.tail"));
    EXPECT_EQ(scan_csv_table_recover_directory(dir.path() + "/missing"), 0);
}

// A real failing disk: a child process whose file size limit the table reaches. Every
// append up to the failing one is in the file, whole; the failing one left nothing.
TEST(scan_table_faults, a_file_size_limit_ends_the_file_at_the_last_whole_table) {
    for (const rlim_t limit : {40, 300, 1000}) {
        SCOPED_TRACE(limit);
        scan_temp_dir_t dir;
        const std::string path = dir.path() + "/t.csv";
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit lim{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(255);
            scan_csv_table_file_t table;
            if (!table.create(path, {"a", "b", "c"})) _exit(254);
            int done = 0;
            for (; done < 200 && table.append(batch(done)); ++done) {
            }
            _exit(done < 200 ? done : 253);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        const int done = WEXITSTATUS(status);
        ASSERT_LT(done, 200);
        columns_t columns(3);
        for (int s = 0; s < done; ++s) add(columns, batch(s));
        EXPECT_EQ(scan_read_file(path), render(columns));
        EXPECT_FALSE(std::filesystem::exists(scan_csv_table_journal_path(path)));
    }
}

struct scan_write_failure_fixture_t : scan_engine_fixture_t {
    scan_temp_dir_t dir;
    void SetUp() override {
        scan_engine_fixture_t::SetUp();
        file_info.record_directory = dir.path();
        channel_params[1] = channel(1, 1, 0);
        channel_params[2] = channel(1, 1, 0);
        param(scan_param_record_enable, [](auto& p) { p.record_enable = 1; });
    }
    std::string path(const std::string& name) const { return dir.path() + "/" + name; }
};

// In both file modes a file that cannot be written any more is reported once, logging
// stops, and the run and its statistics go on.
TEST_F(scan_write_failure_fixture_t, a_failed_log_write_is_reported_once_and_the_run_goes_on) {
    struct mode_case_t {
        int file_mode;
        const char* victim;
    };
    const mode_case_t cases[] = {
        {scan_file_mode_single, "VX_Scan 2024-10-28 14'05'09.csv"},
        {scan_file_mode_per_channel, "VX_Scan 2024-10-28 14'05'09 Channel_2 DC Voltage.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_mode);
        std::error_code ec;
        for (const auto& f : dir.files()) std::filesystem::remove_all(path(f), ec);
        param(scan_param_file_mode, [&](auto& p) { p.file_mode = c.file_mode; });
        start_scanning();
        tick_with({{1, readings({1})}, {2, readings({2})}});
        take_notes();
        // The file turns into a directory: it can no longer be opened for writing.
        ASSERT_TRUE(std::filesystem::remove(path(c.victim)));
        ASSERT_TRUE(std::filesystem::create_directory(path(c.victim)));
        tick_with({{1, readings({3})}, {2, readings({4})}});
        tick_with({{1, readings({5})}, {2, readings({6})}});
        const auto notes = take_notes();
        EXPECT_EQ(std::count(notes.begin(), notes.end(), scan_notify_record_write_failed), 1);
        EXPECT_EQ(engine->get_run_state(), 1);
        EXPECT_EQ(statistics().at(2).count, 3);
        engine->set_run_state(0);
        take_notes();
    }
}

// A log that cannot be created at all (here: not one byte fits) is reported at the
// start; a missing directory is no log and no report, as before; a directory at the
// file's name is not this run's file: the run logs under the next free name.
TEST_F(scan_write_failure_fixture_t, a_log_that_cannot_be_created_is_reported_at_the_start) {
    const std::string name = "VX_Scan 2024-10-28 14'05'09.csv";
    ASSERT_TRUE(std::filesystem::create_directory(path(name)));
    start_scanning();
    auto notes = take_notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), scan_notify_record_write_failed), 0);
    tick_with({{1, readings({1})}, {2, readings({2})}});
    engine->set_run_state(0);
    EXPECT_EQ(run_info().files,
              std::vector<std::string>{path(plib_log_file_alternative(name, 2))});
    EXPECT_EQ(run_info().readings_logged, 2u);
    EXPECT_TRUE(std::filesystem::is_directory(path(name)));

    {
        void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
        rlimit old_limit{};
        getrlimit(RLIMIT_FSIZE, &old_limit);
        rlimit zero = old_limit;
        zero.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &zero);
        start_scanning();
        setrlimit(RLIMIT_FSIZE, &old_limit);
        signal(SIGXFSZ, old_handler);
    }
    notes = take_notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), scan_notify_record_write_failed), 1);
    tick_with({{1, readings({1})}});
    EXPECT_EQ(run_info().readings_logged, 0u);
    engine->set_run_state(0);

    file_info.record_directory = dir.path() + "/missing";
    start_scanning();
    notes = take_notes();
    EXPECT_EQ(std::count(notes.begin(), notes.end(), scan_notify_record_write_failed), 0);
}
