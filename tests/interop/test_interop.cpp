// Independent clients against the simulator: lxi-tools (liblxi's VXI-11 client) and
// pyvisa with the pyvisa-py backend. Both find the core channel through the portmapper
// on port 111, so each simulator here serves its portmapper on 111 of its own loopback
// address. Skipped when the client is not installed or port 111 cannot be bound.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/sim_process.h"

namespace {

using velkaro_test::run_process;
using velkaro_test::sim_process_t;

constexpr int exit_code_bind_failed = 2;  // vx_sim's exit code when an address or port is taken

// Starts a simulator with its portmapper on port 111. port_taken tells the caller to
// skip: the port cannot be bound here (taken, or no privilege for ports below 1024).
std::unique_ptr<sim_process_t> start_sim_on_port_111(std::vector<std::string> extra_args, bool& port_taken) {
    extra_args.insert(extra_args.begin(), {"--portmapper-port", "111"});
    auto sim = std::make_unique<sim_process_t>("VXA-2", extra_args);
    port_taken = !sim->ok() && sim->exit_code() == exit_code_bind_failed;
    return sim;
}

// A Python interpreter that has pyvisa and pyvisa-py, or "" when there is none.
std::string python_with_pyvisa() {
    for (const std::string candidate : {"/usr/bin/python3", "python3"}) {
        if (!velkaro_test::program_available(candidate)) continue;
        const auto result = run_process(candidate, {"-c", "import pyvisa, pyvisa_py"});
        if (result.exit_code == 0) return candidate;
    }
    return "";
}

TEST(interop_test, lxi_reads_the_identification) {
    if (!velkaro_test::program_available("lxi")) GTEST_SKIP() << "lxi-tools not installed";
    bool port_taken = false;
    const auto sim = start_sim_on_port_111({}, port_taken);
    if (port_taken) GTEST_SKIP() << "portmapper port 111 cannot be bound";
    ASSERT_TRUE(sim->ok());
    ASSERT_EQ(sim->portmapper_port(), 111);
    const auto result = run_process("lxi", {"scpi", "-a", sim->address(), "-t", "5", "*IDN?"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("Norvale Labs,VXA-2,"), std::string::npos) << result.out;
}

// Reads the identification, then fetches an "R?" block of 100,000 readings (more than
// 800,000 bytes) and reports its sizes and how many readings parse as numbers.
constexpr const char* pyvisa_script = R"PY(
import sys, time, pyvisa
rm = pyvisa.ResourceManager('@py')
inst = rm.open_resource(sys.argv[1])
inst.timeout = 20000
inst.write_termination = '\n'
inst.write('*IDN?')
print('IDN ' + inst.read_raw().decode().strip())
inst.write('SAMP:COUNT 100000')
inst.write('TRIG:COUNT 1')
inst.write('INIT')
time.sleep(0.4)
inst.write('R?')
raw = inst.read_raw()
n = int(raw[1:2])
declared = int(raw[2:2 + n])
fields = raw[2 + n:-1].split(b',')
good = 0
for f in fields:
    try:
        float(f)
        good += 1
    except ValueError:
        pass
print('BLOCK total=%d declared=%d header=%d last=%d fields=%d numbers=%d'
      % (len(raw), declared, n + 2, raw[-1], len(fields), good))
inst.close()
rm.close()
)PY";

TEST(interop_test, pyvisa_py_reads_identification_and_a_large_block_intact) {
    const std::string python = python_with_pyvisa();
    if (python.empty()) GTEST_SKIP() << "pyvisa with pyvisa-py not installed";
    bool port_taken = false;
    const auto sim = start_sim_on_port_111({"--fast"}, port_taken);
    if (port_taken) GTEST_SKIP() << "portmapper port 111 cannot be bound";
    ASSERT_TRUE(sim->ok());
    ASSERT_EQ(sim->portmapper_port(), 111);
    const auto result = run_process(python, {"-c", pyvisa_script, sim->instr_resource()}, 60000);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("IDN Norvale Labs,VXA-2,"), std::string::npos) << result.out;

    const auto pos = result.out.find("BLOCK ");
    ASSERT_NE(pos, std::string::npos) << result.out;
    long total = 0, declared = 0, header = 0, last = 0, fields = 0, numbers = 0;
    ASSERT_EQ(std::sscanf(result.out.c_str() + pos,
                          "BLOCK total=%ld declared=%ld header=%ld last=%ld fields=%ld numbers=%ld", &total,
                          &declared, &header, &last, &fields, &numbers),
              6)
        << result.out;
    EXPECT_GT(declared, 800000);
    EXPECT_EQ(total, declared + header + 1);  // data, header and the closing "\n"
    EXPECT_EQ(last, '\n');
    EXPECT_EQ(fields, 100000);
    EXPECT_EQ(numbers, fields);
}

}  // namespace
