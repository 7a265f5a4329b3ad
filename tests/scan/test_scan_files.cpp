// Scan log files: names, per-channel header and lines, the single-file table, export.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <random>

#include "common/plib_number.h"
#include "scan/scan_record_file.h"
#include "scan_test_util.h"

namespace {
const std::string stamp_name = "2024-10-28 14'05'09";
const std::string header_vxa =
    "Product type : VXA-2\n"
    "Product SRLN : SN0001\n"
    "Product Software Version : 1.2.3\n"
    "Software Version : V1.0.3\n"
    "File type: CSV\n"
    "File version: 1.0\n"
    "Date : 2024-10-28 14:05:09\n"
    "\n"
    "Data,Time(s)\n";
}  // namespace

TEST(scan_files, names_and_titles_table) {
    struct name_case_t {
        int channel;
        const char* name;
        int func;
        const char* file;
        const char* title;
    };
    const name_case_t cases[] = {
        {3, "Oven", 0, "VX_Scan 2024-10-28 14'05'09 Channel_3 'Oven'DC Voltage.csv",
         "Channel_3Oven: DC Voltage"},
        {4, "", 0, "VX_Scan 2024-10-28 14'05'09 Channel_4 DC Voltage.csv", "Channel_4: DC Voltage"},
        {5, "../up\\x", 0, "VX_Scan 2024-10-28 14'05'09 Channel_5 '.._up_x'DC Voltage.csv",
         "Channel_5../up\\x: DC Voltage"},
        {16, "", 4, "VX_Scan 2024-10-28 14'05'09 Channel_16 2 Wire Resistance.csv",
         "Channel_16: 2 Wire Resistance"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scan_channel_file_name(stamp_name, c.channel, c.name, c.func), c.file);
        EXPECT_EQ(scan_column_title(c.channel, c.name, c.func), c.title);
    }
    EXPECT_EQ(scan_single_file_name(stamp_name), "VX_Scan 2024-10-28 14'05'09.csv");
    EXPECT_EQ(scan_join_path("/tmp/logs", "a.csv"), "/tmp/logs/a.csv");
    EXPECT_EQ(scan_join_path("/tmp/logs/", "a.csv"), "/tmp/logs/a.csv");
}

TEST(scan_files, channel_lines_use_ten_significant_digits) {
    struct line_case_t {
        double value, seconds;
        const char* line;
    };
    const line_case_t cases[] = {
        {1.234567891, 0.4, "1.234567891,0.4\n"}, {1.23456789012345, 2.5, "1.23456789,2.5\n"},
        {9.9e37, 1e10, "9.9e+37,1e+10\n"},       {-0.00001, 0, "-1e-05,0\n"},
        {123456789.0, 12.0, "123456789,12\n"},
    };
    for (const auto& c : cases) {
        std::string s;
        scan_append_channel_line(s, c.value, c.seconds);
        EXPECT_EQ(s, c.line);
    }
}

TEST(scan_files, csv_cells_are_quoted_when_they_need_it) {
    EXPECT_EQ(scan_csv_cell("1.5"), "1.5");
    EXPECT_EQ(scan_csv_cell("Channel_2: DC Voltage"), "\"Channel_2: DC Voltage\"");
    EXPECT_EQ(scan_csv_cell("a,\"b\""), "\"a,\"\"b\"\"\"");
}

// The table's file always equals a full rendering of the table, whatever the order and
// sizes of the appends, and rows every column has filled leave memory.
TEST(scan_files, table_file_matches_a_full_rendering_after_every_append) {
    scan_temp_dir_t dir;
    const std::string path = dir.path() + "/t.csv";
    scan_csv_table_file_t table;
    ASSERT_TRUE(table.create(path, {"a", "b", "c"}));
    EXPECT_EQ(scan_read_file(path), "a,b,c");
    std::vector<std::vector<double>> columns(3);
    std::mt19937 rng(7);
    for (int step = 0; step < 200; ++step) {
        std::map<std::size_t, std::vector<double>> add;
        for (std::size_t c = 0; c < 3; ++c) {
            const int n = static_cast<int>(rng() % 4);
            for (int i = 0; i < n; ++i) {
                const double v = (step * 10 + i) / 3.0;
                add[c].push_back(v);
                columns[c].push_back(v);
            }
        }
        ASSERT_TRUE(table.append(add));
        std::size_t rows = 0;
        for (const auto& col : columns) rows = std::max(rows, col.size());
        std::string expected = "a,b,c";
        if (rows) expected += "\n";
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t c = 0; c < 3; ++c) {
                if (c) expected += ",";
                if (r < columns[c].size()) expected += format_general(columns[c][r], 17);
            }
            expected += "\n";
        }
        ASSERT_EQ(scan_read_file(path), expected) << "step " << step;
        std::size_t min_len = rows;
        for (const auto& col : columns) min_len = std::min(min_len, col.size());
        EXPECT_EQ(table.pending_rows(), rows - min_len);
    }
}

TEST(scan_files, table_append_fails_when_the_file_is_gone) {
    scan_temp_dir_t dir;
    scan_csv_table_file_t table;
    ASSERT_TRUE(table.create(dir.path() + "/sub.csv", {"a"}));
    std::filesystem::remove_all(dir.path());
    EXPECT_FALSE(table.append({{0, {1.0}}}));
}

struct scan_file_fixture_t : scan_engine_fixture_t {
    scan_temp_dir_t dir;
    void SetUp() override {
        scan_engine_fixture_t::SetUp();
        file_info.record_directory = dir.path();
        channel_params[1] = channel(1, 2, 0);
        channel_params[2] = channel(0, 1, 0);
        channel_params[3] = channel(1, 1, 4, "Oven");
        param(scan_param_record_enable, [](auto& p) { p.record_enable = 1; });
    }
    std::string path(const std::string& name) const { return dir.path() + "/" + name; }
};

TEST_F(scan_file_fixture_t, per_channel_files_have_the_header_and_one_line_per_reading) {
    param(scan_param_file_mode, [](auto& p) { p.file_mode = 1; });
    start_scanning();
    const std::string f1 = "VX_Scan 2024-10-28 14'05'09 Channel_1 DC Voltage.csv";
    const std::string f3 = "VX_Scan 2024-10-28 14'05'09 Channel_3 'Oven'2 Wire Resistance.csv";
    EXPECT_EQ(dir.files(), (std::vector<std::string>{f1, f3}));
    EXPECT_EQ(scan_read_file(path(f1)), header_vxa);
    tick_with({{1, readings({1.234567891, 2.0}, 400000, 2100000)}, {2, readings({7})}, {3, readings({100})}});
    EXPECT_EQ(scan_read_file(path(f1)), header_vxa + "1.234567891,0.4\n2,2.5\n");
    EXPECT_EQ(scan_read_file(path(f3)), header_vxa + "100,0\n");
}

TEST_F(scan_file_fixture_t, single_file_is_a_ragged_table_and_logging_goes_on) {
    start_scanning();
    const std::string f = path("VX_Scan 2024-10-28 14'05'09.csv");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"VX_Scan 2024-10-28 14'05'09.csv"}));
    const std::string titles = "\"Channel_1: DC Voltage\",\"Channel_3Oven: 2 Wire Resistance\"";
    EXPECT_EQ(scan_read_file(f), titles);
    tick_with({{1, readings({0.1, 2})}, {3, readings({3})}});
    EXPECT_EQ(scan_read_file(f), titles + "\n0.10000000000000001,3\n2,\n");
    tick_with({{3, readings({4, 5})}});
    EXPECT_EQ(scan_read_file(f), titles + "\n0.10000000000000001,3\n2,4\n,5\n");
    tick_with({{1, readings({6})}, {2, readings({9})}});
    EXPECT_EQ(scan_read_file(f), titles + "\n0.10000000000000001,3\n2,4\n6,5\n");
}

TEST_F(scan_file_fixture_t, stop_by_count_logs_the_readings_of_the_stopping_tick) {
    param(scan_param_stop_mode, [](auto& p) { p.stop_mode = 3; });
    param(scan_param_stop_scan_count, [](auto& p) { p.stop_scan_count = 1; });
    param(scan_param_sweep_readings, [](auto& p) { p.sweep_readings = 3; });
    start_scanning();
    tick_with({{1, readings({1, 2})}, {3, readings({3})}});
    EXPECT_EQ(engine->get_run_state(), 0);
    const std::string f = path("VX_Scan 2024-10-28 14'05'09.csv");
    EXPECT_EQ(scan_read_file(f), "\"Channel_1: DC Voltage\",\"Channel_3Oven: 2 Wire Resistance\"\n1,3\n2,\n");
}

TEST_F(scan_file_fixture_t, stop_by_time_logs_the_readings_of_the_stopping_tick) {
    param(scan_param_file_mode, [](auto& p) { p.file_mode = 1; });
    param(scan_param_stop_mode, [](auto& p) { p.stop_mode = 2; });
    param(scan_param_stop_duration, [](auto& p) { p.stop_duration = 1.0; });
    start_scanning();
    clock_us += 1000000;
    tick_with({{1, readings({5}, 900000)}});
    EXPECT_EQ(engine->get_run_state(), 0);
    EXPECT_EQ(scan_read_file(path("VX_Scan 2024-10-28 14'05'09 Channel_1 DC Voltage.csv")),
              header_vxa + "5,0.9\n");
}

TEST_F(scan_file_fixture_t, missing_directory_turns_logging_off_and_scanning_goes_on) {
    file_info.record_directory = dir.path() + "/missing";
    start_scanning();
    tick_with({{1, readings({1})}});
    EXPECT_EQ(engine->get_run_state(), 1);
    EXPECT_EQ(statistics().at(1).count, 1);
    EXPECT_TRUE(dir.files().empty());
}

TEST_F(scan_file_fixture_t, a_failed_write_switches_logging_off_for_the_run) {
    param(scan_param_file_mode, [](auto& p) { p.file_mode = 1; });
    start_scanning();
    const std::string f1 = path("VX_Scan 2024-10-28 14'05'09 Channel_1 DC Voltage.csv");
    std::filesystem::remove(f1);
    std::filesystem::create_directory(f1);  // cannot be opened as a file any more
    tick_with({{3, readings({1})}});
    tick_with({{3, readings({2})}});
    // Channel 1's failure stopped logging in the first tick, before channel 3 was written.
    EXPECT_EQ(scan_read_file(path("VX_Scan 2024-10-28 14'05'09 Channel_3 'Oven'2 Wire Resistance.csv")),
              header_vxa);
    EXPECT_EQ(statistics().at(3).count, 2);
}

TEST_F(scan_file_fixture_t, export_writes_every_stored_reading_per_scanned_channel) {
    param(scan_param_record_enable, [](auto& p) { p.record_enable = 0; });
    start_scanning();
    tick_with({{1, readings({1, 2}, 0, 500000)}, {3, readings({3})}});
    tick_with({{1, readings({4}, 1000000)}});
    engine->set_run_state(0);
    scan_temp_dir_t out;
    EXPECT_EQ(param(scan_param_export_data, [&](auto& p) { p.export_path = out.path(); }), 0);
    EXPECT_EQ(out.files().size(), 2u);
    EXPECT_EQ(scan_read_file(out.path() + "/VX_Scan 2024-10-28 14'05'09 Channel_1 DC Voltage.csv"),
              header_vxa + "1,0\n2,0.5\n4,1\n");
    EXPECT_EQ(
        scan_read_file(out.path() + "/VX_Scan 2024-10-28 14'05'09 Channel_3 'Oven'2 Wire Resistance.csv"),
        header_vxa + "3,0\n");
    EXPECT_NE(param(scan_param_export_data, [&](auto& p) { p.export_path = ""; }), 0);
    EXPECT_EQ(out.files().size(), 2u);
}

// Two writers of one name in the same second (two instruments, two processes) never
// share a file: the second gets the next free name, and each file holds exactly its
// own writer's rows.
TEST(scan_files, two_tables_of_one_name_get_two_files) {
    scan_temp_dir_t dir;
    const std::string path = dir.path() + "/VX_Scan s.csv";
    scan_csv_table_file_t first, second;
    ASSERT_TRUE(first.create(path, {"a"}));
    ASSERT_TRUE(second.create(path, {"b"}));
    EXPECT_EQ(first.path(), path);
    EXPECT_EQ(second.path(), dir.path() + "/VX_Scan s (2).csv");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(first.append({{0, {1.0 + i}}}));
        ASSERT_TRUE(second.append({{0, {10.0 + i}}}));
    }
    EXPECT_EQ(scan_read_file(first.path()), "a\n1\n2\n3\n");
    EXPECT_EQ(scan_read_file(second.path()), "b\n10\n11\n12\n");
}

// What is at the single file's name before a run (a link, a pipe, a file of someone
// else) is left as it is: the run logs into a file of its own, and a run stopped
// before its first sweep still ends its titles row with a line break.
TEST_F(scan_file_fixture_t, whatever_is_at_the_log_name_is_left_alone) {
    const std::string name = "VX_Scan 2024-10-28 14'05'09.csv";
    const std::string titles = "\"Channel_1: DC Voltage\",\"Channel_3Oven: 2 Wire Resistance\"";
    struct case_t {
        const char* what;
        std::function<void(const std::string& at, const std::string& outside)> put;
    };
    const case_t cases[] = {
        {"a link to a file", [](const std::string& at, const std::string& outside) {
             std::ofstream(outside) << "keep\n1,torn";
             std::filesystem::create_symlink(outside, at);
         }},
        {"a pipe", [](const std::string& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
        {"another file", [](const std::string& at, const std::string&) { std::ofstream(at) << "x"; }},
    };
    scan_temp_dir_t elsewhere;
    const std::string outside = elsewhere.path() + "/outside.txt";
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& f : dir.files()) std::filesystem::remove_all(path(f));
        std::filesystem::remove(outside);
        c.put(path(name), outside);
        start_scanning();
        engine->set_run_state(0);  // before the first sweep
        const plib_scan_run_state_t info = run_info();
        const std::string own = path(plib_log_file_alternative(name, 2));
        EXPECT_EQ(info.files, std::vector<std::string>{own});
        EXPECT_EQ(scan_read_file(own), titles + "\n");
        if (std::string(c.what) == "a link to a file") {
            EXPECT_EQ(scan_read_file(outside), "keep\n1,torn");
        }
    }
}

// Readings logged are the readings that reached the files.
TEST_F(scan_file_fixture_t, readings_logged_are_those_in_the_files) {
    param(scan_param_file_mode, [](auto& p) { p.file_mode = 1; });
    start_scanning();
    tick_with({{1, readings({1, 2})}, {3, readings({3})}});
    EXPECT_EQ(run_info().readings_logged, 3u);
    const std::string f1 = path("VX_Scan 2024-10-28 14'05'09 Channel_1 DC Voltage.csv");
    std::filesystem::remove(f1);
    std::filesystem::create_symlink("/dev/null", f1);  // a link put in its place: refused
    tick_with({{1, readings({4})}, {3, readings({5})}});
    EXPECT_EQ(run_info().readings_logged, 3u);
    EXPECT_EQ(run_info().readings_count, 5u);
    engine->set_run_state(0);
}
