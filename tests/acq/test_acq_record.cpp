// Record file: header, reading lines, file naming, logging during a run and export.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "acq_test_util.h"
#include "common/plib_format.h"
#include "common/plib_number.h"

namespace {

namespace fs = std::filesystem;
using N = plib_acq_notify_t;

// Lowers the file-size limit of the process for one scope: writes beyond it fail with
// EFBIG, as on a full disk (SIGXFSZ ignored meanwhile).
struct file_size_limit_t {
    explicit file_size_limit_t(rlim_t bytes) {
        m_old_handler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit r = m_old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~file_size_limit_t() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_old_handler);
    }
    rlimit m_old{};
    void (*m_old_handler)(int) = nullptr;
};

void write_text(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

plib_acq_file_record_param_t sample_param(const std::string& directory) {
    plib_acq_file_record_param_t p;
    acq_fill_record_param(p, "VELKARO", "VXA-2", "SN0042", "01.02.03", "V1.0.3", "DC Voltage", directory,
                          "2024-10-28 14'05'09");
    return p;
}

TEST(acq_record_file, header_bytes) {
    const std::string h = acq_record_header(sample_param(""), 200, "2024-10-28 14:05:09");
    EXPECT_EQ(h,
              "Product type : VXA-2\n"
              "Product SRLN : SN0042\n"
              "Product Software Version : 01.02.03\n"
              "Software Version : V1.0.3\n"
              "File type: CSV\n"
              "File version: 1.0\n"
              "Interval : 200ms\n"
              "Date : 2024-10-28 14:05:09\n"
              "\n"
              "DC Voltage,Time(s)\n");
}

TEST(acq_record_file, value_column_is_general_notation_with_ten_digits) {
    struct case_t {
        double value;
        const char* text;
    };
    const case_t cases[] = {
        {9.9e37, "9.9e+37"},
        {-9.9e37, "-9.9e+37"},
        {9.91e37, "9.91e+37"},
        {0.00012345, "0.00012345"},
        {0.0001, "0.0001"},
        {1e-5, "1e-05"},
        {1.23456789012, "1.23456789"},
        {1234567890.0, "1234567890"},
        {12345678901.0, "1.23456789e+10"},
        {-0.5, "-0.5"},
        {0.0, "0"},
        {123.4567890123, "123.456789"},
        {1.0000000004, "1"},
        {2.5e-12, "2.5e-12"},
    };
    acq_record_line_formatter_t f;
    for (const case_t& c : cases) {
        std::string line;
        f.append_line(line, plib_data_t{c.value, 0});
        const std::string value = line.substr(0, line.find(','));
        EXPECT_EQ(value, c.text);
        EXPECT_EQ(value, format_general(c.value, 10));
    }
}

TEST(acq_record_file, time_column_is_format_timestamp_us_for_every_reading) {
    const int64_t base = 1730124309000000;  // a whole second
    const int64_t stamps[] = {
        base, base + 1, base + 999999, base + 1000000, base + 1000001, base + 3600000000, base + 42,
        0,    -1,       -1000000,      -999999,        base + 123456};
    acq_record_line_formatter_t f;
    for (int64_t ts : stamps) {
        std::string line;
        f.append_line(line, plib_data_t{1.5, ts});
        EXPECT_EQ(line, "1.5," + format_timestamp_us(ts) + "\n") << ts;
    }
    std::string line;
    f.append_line(line, plib_data_t{1.0, base + 7});
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(1,\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.000007\n)"))) << line;
}

TEST(acq_record_file, file_names_and_paths) {
    struct case_t {
        const char* dir;
        const char* product;
        const char* serial;
        const char* path;
    };
    const case_t cases[] = {
        {"/data/logs", "VXA-2", "SN1", "/data/logs/2024-10-28 14'05'09 DC Voltage VXA-2 SN1.csv"},
        {"/data/logs/", "VXA-2", "SN1", "/data/logs/2024-10-28 14'05'09 DC Voltage VXA-2 SN1.csv"},
        {"rel", "VXB-1", "A/B", "rel/2024-10-28 14'05'09 DC Voltage VXB-1 A_B.csv"},
        {"/d", "..\\x", "../../etc\n", "/d/2024-10-28 14'05'09 DC Voltage .._x .._.._etc_.csv"},
        {"", "VXA-2", "SN1", ""},
    };
    for (const case_t& c : cases) {
        plib_acq_file_record_param_t p;
        acq_fill_record_param(p, "M", c.product, c.serial, "fw", "V1.0.3", "DC Voltage", c.dir,
                              "2024-10-28 14'05'09");
        EXPECT_EQ(p.record_path, c.path);
        EXPECT_EQ(p.product_type, c.product);  // the header keeps the instrument's own text
    }
}

// An engine that logs into a temporary directory under a fixed file-name stamp.
struct acq_record_fixture_t : acq_engine_fixture_t {
    temp_dir_t dir;
    std::string log_dir;

    void SetUp() override {
        acq_engine_fixture_t::SetUp();
        log_dir = (fs::path(dir.path()) / "logs").string();
        fs::create_directory(log_dir);
        set_record_dir(log_dir);
        param(record_kind_record_enable, [](auto& p) { p.record_enable = 1; });
    }
    void set_record_dir(const std::string& d) {
        engine->set_record_info_callback([d](plib_acq_file_record_param_t& p) {
            acq_fill_record_param(p, "VELKARO", "VXA-2", "SN0042", "01.02.03", "V1.0.3", "DC Voltage", d,
                                  "2024-10-28 14'05'09");
        });
    }
    std::string log_path() const { return sample_param(log_dir).record_path; }
    std::vector<std::string> log_lines() const { return split_lines(read_file(log_path())); }
};

TEST_F(acq_record_fixture_t, a_run_logs_its_header_and_every_accepted_reading) {
    engine->set_run_state(1);
    EXPECT_TRUE(run_info().recording);
    tick_with({{9.9e37, 1730124309000001}, {0.00012345, 1730124309500000}});
    tick();
    tick_with({{-1.25, 1730124310000000}});
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "Product type : VXA-2");
    EXPECT_EQ(lines[6], "Interval : 200ms");
    EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(Date : \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << lines[7];
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "DC Voltage,Time(s)");
    EXPECT_EQ(lines[10], "9.9e+37," + format_timestamp_us(1730124309000001));
    EXPECT_EQ(lines[11], "0.00012345," + format_timestamp_us(1730124309500000));
    EXPECT_EQ(lines[12], "-1.25," + format_timestamp_us(1730124310000000));
    engine->set_run_state(0);
    EXPECT_FALSE(run_info().recording);
}

// A log file belongs to one run: a second start within the same second finds the name
// taken and logs into "<name> (2).csv"; neither file gets the other's lines.
TEST_F(acq_record_fixture_t, two_starts_within_one_second_write_two_files) {
    param(record_kind_interval, [](auto& p) { p.interval_ms = 500; });
    engine->set_run_state(0);
    engine->set_run_state(1);
    tick_with(make_batch(2, 1.0));
    engine->set_run_state(0);
    EXPECT_EQ(run_info().record_path, log_path());
    EXPECT_EQ(run_info().logged_count, 2u);
    engine->set_run_state(1);
    tick_with(make_batch(3, 10.0));
    engine->set_run_state(0);
    const std::string second = plib_log_file_alternative(log_path(), 2);
    EXPECT_EQ(run_info().record_path, second);
    EXPECT_EQ(run_info().logged_count, 3u);
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[6], "Interval : 500ms");
    EXPECT_EQ(lines[10].substr(0, 2), "1,");
    const auto lines2 = split_lines(read_file(second));
    ASSERT_EQ(lines2.size(), 13u);
    EXPECT_EQ(lines2[0], "Product type : VXA-2");
    EXPECT_EQ(lines2[10].substr(0, 3), "10,");
    EXPECT_EQ(std::distance(fs::directory_iterator(log_dir), fs::directory_iterator()), 2);
}

// Whatever is at the log file's name before the run, the run never writes through it
// nor into it: it logs into a new file of its own (and says which in the run state),
// and every reading it logged is in that file.
TEST_F(acq_record_fixture_t, whatever_is_at_the_log_name_is_left_alone) {
    struct case_t {
        const char* name;
        std::function<void(const std::string& at, const std::string& outside)> put;
    };
    const case_t cases[] = {
        {"nothing", [](const std::string&, const std::string&) {}},
        {"another program's file", [](const std::string& at, const std::string&) { write_text(at, "other\n1,x"); }},
        {"a link to a file", [](const std::string& at, const std::string& outside) {
             write_text(outside, "keep\n1,torn");
             fs::create_symlink(outside, at);
         }},
        {"a dangling link", [](const std::string& at, const std::string& outside) { fs::create_symlink(outside, at); }},
        {"a pipe", [](const std::string& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
        {"a directory", [](const std::string& at, const std::string&) { fs::create_directory(at); }},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(log_dir);
        fs::create_directory(log_dir);
        const std::string outside = (fs::path(dir.path()) / "outside.txt").string();
        fs::remove(outside);
        c.put(log_path(), outside);
        const bool was_there = fs::exists(fs::symlink_status(log_path()));
        const std::string outside_before = fs::exists(outside) ? read_file(outside) : "";
        take_notes();
        engine->set_run_state(1);
        tick_with(make_batch(4, 1.0));
        engine->set_run_state(0);
        EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_start, acq_notify_data, acq_notify_stop}));
        const plib_record_run_state_info_t info = run_info();
        EXPECT_EQ(info.logged_count, 4u);
        EXPECT_EQ(info.record_path, was_there ? plib_log_file_alternative(log_path(), 2) : log_path());
        EXPECT_EQ(split_lines(read_file(info.record_path)).size(), 14u);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(info.record_path)));
        // The link's target is not written, cut or created.
        EXPECT_EQ(fs::exists(outside) ? read_file(outside) : "", outside_before);
        if (std::string(c.name) == "another program's file") {
            EXPECT_EQ(read_file(log_path()), "other\n1,x");  // its torn tail is not this program's to cut
        }
    }
}

// A name longer than the file system allows (a very long serial number from the
// instrument) is shortened: the file is made, two such names stay apart, and the header
// keeps the whole serial number.
TEST_F(acq_record_fixture_t, a_name_too_long_is_shortened) {
    const std::string serial(300, 'S');
    for (const std::string& tail : {std::string("A"), std::string("B")}) {
        engine->set_record_info_callback([this, serial, tail](plib_acq_file_record_param_t& p) {
            acq_fill_record_param(p, "VELKARO", "VXA-2", serial + tail, "01.02.03", "V1.0.3", "DC Voltage",
                                  log_dir, "2024-10-28 14'05'09");
        });
        engine->set_run_state(1);
        tick_with(make_batch(3, 1.0));
        engine->set_run_state(0);
        const plib_record_run_state_info_t info = run_info();
        EXPECT_EQ(info.logged_count, 3u);
        ASSERT_FALSE(info.record_path.empty());
        EXPECT_LE(fs::path(info.record_path).filename().string().size(), 255u);
        EXPECT_EQ(fs::path(info.record_path).extension(), ".csv");
        const auto lines = split_lines(read_file(info.record_path));
        ASSERT_EQ(lines.size(), 13u);
        EXPECT_EQ(lines[1], "Product SRLN : " + serial + tail);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(log_dir), fs::directory_iterator()), 2);
}

// A log file that cannot be made is told at the start; nothing counts as logged.
TEST_F(acq_record_fixture_t, a_log_file_that_cannot_be_made_is_told) {
    const std::string not_a_dir = (fs::path(dir.path()) / "plain-file").string();
    write_text(not_a_dir, "x");
    set_record_dir(not_a_dir);  // the file's directory is a regular file: ENOTDIR
    take_notes();
    engine->set_run_state(1);
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_record_write_failed, acq_notify_start}));
    tick_with(make_batch(3, 1.0));
    engine->set_run_state(0);
    EXPECT_EQ(run_info().logged_count, 0u);
    EXPECT_EQ(run_info().record_path, "");
    EXPECT_EQ(run_info().total_count, 3u);
}

// The file is replaced by a link during the run: the next append is refused and told,
// and the link's target is not written.
TEST_F(acq_record_fixture_t, a_log_file_replaced_during_the_run_is_not_written) {
    engine->set_run_state(1);
    tick_with(make_batch(2, 1.0));
    const std::string outside = (fs::path(dir.path()) / "outside.txt").string();
    write_text(outside, "keep\n");
    fs::remove(log_path());
    fs::create_symlink(outside, log_path());
    take_notes();
    tick_with(make_batch(3, 1.0));
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_record_write_failed, acq_notify_data}));
    engine->set_run_state(0);
    EXPECT_EQ(read_file(outside), "keep\n");
    EXPECT_EQ(run_info().logged_count, 2u);
}

TEST_F(acq_record_fixture_t, logging_switch_and_directory_apply_from_the_next_start) {
    struct case_t {
        const char* name;
        int enable_at_start;
        int enable_during_run;
        std::string dir;
        bool recording;
    };
    const case_t cases[] = {
        {"off at start, on during the run", 0, 1, "logs", false},
        {"on at start, off during the run", 1, 0, "logs", true},
        {"no directory", 1, 1, "", false},
        {"missing directory", 1, 1, "missing", false},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(log_dir);
        fs::create_directory(log_dir);
        set_record_dir(c.dir.empty() ? "" : (fs::path(dir.path()) / c.dir).string());
        param(record_kind_record_enable, [&](auto& p) { p.record_enable = c.enable_at_start; });
        engine->set_run_state(1);
        param(record_kind_record_enable, [&](auto& p) { p.record_enable = c.enable_during_run; });
        tick_with(make_batch(2));
        EXPECT_EQ(run_info().recording, c.recording);
        EXPECT_EQ(fs::exists(log_path()), c.recording);
        if (c.recording) {
            EXPECT_EQ(log_lines().size(), 12u);
        }
        engine->set_run_state(0);
        EXPECT_EQ(take_notes().size(), 3u);  // start, data, stop: a missing directory is not an error
    }
}

// The tick that triggers an automatic stop writes what the buffer accepted before the
// log closes.
TEST_F(acq_record_fixture_t, automatic_stop_logs_exactly_what_the_buffer_accepted) {
    struct case_t {
        int stop_num;
        std::vector<std::size_t> batches;
    };
    const case_t cases[] = {{10, {4, 4, 4}}, {6, {6, 1}}, {3, {5}}, {0, {2}}};
    for (const case_t& c : cases) {
        SCOPED_TRACE("stop_num " + std::to_string(c.stop_num));
        fs::remove(log_path());
        param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
        param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_count; });
        param(record_kind_stop_num, [&](auto& p) { p.stop_num = c.stop_num; });
        engine->set_run_state(1);
        for (std::size_t n : c.batches) tick_with(make_batch(n, 0.0));
        EXPECT_EQ(engine->get_run_state(), 0);
        EXPECT_FALSE(run_info().recording);
        const auto b = buffer();
        const auto lines = log_lines();
        ASSERT_EQ(lines.size(), 10u + b.size());
        EXPECT_EQ(b.size(), static_cast<std::size_t>(c.stop_num));
        for (std::size_t i = 0; i < b.size(); ++i) {
            EXPECT_EQ(lines[10 + i],
                      format_general(b[i].value, 10) + "," + format_timestamp_us(b[i].timestamp));
        }
    }
}

// The tick that stops a run by time fetched readings the instrument no longer holds:
// each of them is in the buffer, the count, the log and the latest reading.
TEST_F(acq_record_fixture_t, time_stop_keeps_and_logs_the_stopping_tick) {
    struct case_t {
        double stop_time;
        std::vector<std::size_t> batches;  // one tick each, 0.4 s apart
    };
    const case_t cases[] = {{1.0, {3, 2, 5}}, {0.0, {4}}, {0.5, {1, 7}}};
    for (const case_t& c : cases) {
        SCOPED_TRACE("stop_time " + std::to_string(c.stop_time));
        fs::remove(log_path());
        param(record_kind_auto_stop_enable, [](auto& p) { p.auto_stop_enable = true; });
        param(record_kind_auto_stop_mode, [](auto& p) { p.auto_stop_mode = acq_auto_stop_by_time; });
        param(record_kind_stop_time, [&](auto& p) { p.stop_time = c.stop_time; });
        const int64_t t0 = clock_us.load();
        engine->set_run_state(1);
        take_notes();
        std::vector<plib_data_t> sent;
        for (std::size_t i = 0; i < c.batches.size(); ++i) {
            clock_us = t0 + static_cast<int64_t>(i) * 400000 + (c.stop_time == 0.0 ? 0 : 400000);
            auto batch = make_batch(c.batches[i], 100.0 * static_cast<double>(i));
            sent.insert(sent.end(), batch.begin(), batch.end());
            tick_with(std::move(batch));
        }
        EXPECT_EQ(engine->get_run_state(), 0);
        const auto notes_seen = take_notes();
        ASSERT_GE(notes_seen.size(), 2u);
        EXPECT_EQ(notes_seen[notes_seen.size() - 2], acq_notify_stop);
        EXPECT_EQ(notes_seen.back(), acq_notify_data);
        EXPECT_EQ(run_info().total_count, sent.size());
        const auto b = buffer();
        ASSERT_EQ(b.size(), sent.size());
        const auto lines = log_lines();
        ASSERT_EQ(lines.size(), 10u + sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(b[i].value, sent[i].value);
            EXPECT_EQ(lines[10 + i],
                      format_general(sent[i].value, 10) + "," + format_timestamp_us(sent[i].timestamp));
        }
        plib_data_t latest{};
        engine->m_acq_latest_msg.fetch(latest);
        EXPECT_EQ(latest.value, sent.back().value);
        clock_us = t0;
    }
}

TEST_F(acq_record_fixture_t, a_removed_directory_stops_logging_and_is_reported) {
    engine->set_run_state(1);
    tick_with(make_batch(2));
    fs::remove_all(log_dir);
    take_notes();
    tick_with(make_batch(3));
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_record_write_failed, acq_notify_data}));
    EXPECT_FALSE(run_info().recording);
    tick_with(make_batch(4));
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_data}));  // reported once per run
    EXPECT_EQ(buffer_size(), 9u);                                // the readings stay in the buffer
    EXPECT_FALSE(fs::exists(log_dir));
    EXPECT_EQ(engine->get_run_state(), 1);
}

TEST_F(acq_record_fixture_t, a_full_disk_is_reported) {
    {
        file_size_limit_t cap(0);  // not even the header fits
        engine->set_run_state(1);
    }
    EXPECT_EQ(take_notes(), (std::vector<N>{acq_notify_record_write_failed, acq_notify_start}));
    EXPECT_FALSE(run_info().recording);
    tick_with(make_batch(2));
    EXPECT_EQ(buffer_size(), 2u);
    EXPECT_EQ(run_info().logged_count, 0u);
    plib_log_create_t created;
    const std::string path = (fs::path(dir.path()) / "full.csv").string();
    ASSERT_EQ(acq_create_log_file(path, "h\n", created), acq_file_result_t::ok);
    {
        file_size_limit_t cap(2);
        EXPECT_EQ(acq_append_to_file(path, created.id, "x\n"), acq_file_result_t::write_failed);
    }
    EXPECT_EQ(read_file(path), "h\n");
    EXPECT_EQ(acq_append_to_file("/nonexistent-dir/x.csv", created.id, "x\n"), acq_file_result_t::open_failed);
    EXPECT_EQ(acq_create_log_file("/nonexistent-dir/x.csv", "h\n", created), acq_file_result_t::open_failed);
}

TEST_F(acq_record_fixture_t, export_writes_header_and_buffer) {
    const std::string path = (fs::path(dir.path()) / "export.csv").string();
    auto export_to = [&](const std::string& p) {
        return param(record_kind_export, [&](auto& m) { m.export_path = p; });
    };
    // Before any start the record information is empty.
    testing::internal::CaptureStdout();
    EXPECT_EQ(export_to(path), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Success to open: " + path + "\n");
    auto lines = split_lines(read_file(path));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Product type : ");
    EXPECT_EQ(lines[9], ",Time(s)");

    engine->set_run_state(1);
    tick_with({{1.5, 1730124309000000}, {9.9e37, 1730124309100000}});
    engine->set_run_state(0);
    EXPECT_EQ(export_to(path), 0);  // truncates the earlier export
    lines = split_lines(read_file(path));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "Product type : VXA-2");
    EXPECT_EQ(lines[11], "9.9e+37," + format_timestamp_us(1730124309100000));

    testing::internal::CaptureStdout();
    EXPECT_EQ(export_to(""), 0);  // nothing to do
    EXPECT_EQ(export_to((fs::path(dir.path()) / "missing" / "x.csv").string()), -1);
    EXPECT_EQ(export_to("/dev/full"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Success to open: /dev/full\n");
}

}  // namespace

// -------------------------------------------------------------------------------------
// Crash and full-disk safety of the record file

namespace {

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace

// A file left with a torn last line (a crash in the middle of a write) is cut back to
// its last line end when it is next opened for appending.
TEST(acq_record_file, append_repairs_a_torn_tail) {
    struct case_t {
        const char* name;
        std::string before;
        std::string kept;
    };
    std::string long_torn(200 * 1024, 'x');  // a torn line longer than one read-back step
    const case_t cases[] = {
        {"torn reading line", "h1\nh2\n1.5,2024-10-28 14:05:09.0000", "h1\nh2\n"},
        {"whole lines untouched", "h1\n1,t\n", "h1\n1,t\n"},
        {"empty file", "", ""},
        {"no line end at all", "1.2345,2024", ""},
        {"torn line across read-back steps", "a\nb\n" + long_torn, "a\nb\n"},
        {"torn line after a long whole line", long_torn + "\nx", long_torn + "\n"},
    };
    temp_dir_t dir;
    const std::string path = (fs::path(dir.path()) / "log.csv").string();
    plib_log_create_t created;
    ASSERT_EQ(acq_create_log_file(path, "", created), acq_file_result_t::ok);
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        write_bytes(path, c.before);  // the same file, truncated and rewritten
        ASSERT_EQ(acq_append_to_file(path, created.id, "7,t7\n8,t8\n"), acq_file_result_t::ok);
        EXPECT_EQ(read_file(path), c.kept + "7,t7\n8,t8\n");
    }
}

// A write that fails part-way (full disk) leaves the file at a line end: only whole
// lines, the earlier ones untouched; text larger than one chunk is cut at line ends.
TEST(acq_record_file, a_failing_append_leaves_whole_lines) {
    temp_dir_t dir;
    const std::string path = (fs::path(dir.path()) / "log.csv").string();
    std::string text;
    acq_record_line_formatter_t formatter;
    for (int i = 0; i < 120000; ++i) formatter.append_line(text, {1.0 + i, 1730124309000000 + i});
    ASSERT_GT(text.size(), 3u * 1024 * 1024);
    plib_log_create_t created;
    ASSERT_EQ(acq_create_log_file(path, "", created), acq_file_result_t::ok);
    const rlim_t limits[] = {100, 1024 * 1024 + 17, 2500000};
    for (rlim_t limit : limits) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        write_bytes(path, "head\n");
        acq_file_result_t r;
        {
            file_size_limit_t cap(limit);
            r = acq_append_to_file(path, created.id, text);
        }
        EXPECT_EQ(r, acq_file_result_t::write_failed);
        const std::string after = read_file(path);
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after.back(), '\n');
        EXPECT_LE(after.size(), limit);
        EXPECT_EQ(after.substr(0, 5), "head\n");
        EXPECT_EQ(after.substr(5), text.substr(0, after.size() - 5));  // a prefix of whole lines
    }
}

// An export that fails leaves the earlier export as it was and no temporary file.
TEST_F(acq_record_fixture_t, a_failing_export_keeps_the_earlier_file) {
    const std::string path = (fs::path(dir.path()) / "export.csv").string();
    write_bytes(path, "good export\n");
    engine->set_run_state(1);
    tick_with(make_batch(50000, 1.0));
    engine->set_run_state(0);
    int r = 0;
    testing::internal::CaptureStdout();
    {
        file_size_limit_t cap(64 * 1024);
        r = param(record_kind_export, [&](auto& m) { m.export_path = path; });
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(read_file(path), "good export\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
              2);  // logs/, export
    // Without the limit the same export replaces the file whole.
    testing::internal::CaptureStdout();
    EXPECT_EQ(param(record_kind_export, [&](auto& m) { m.export_path = path; }), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(split_lines(read_file(path)).size(), 10u + 50000u);
}
