// Text helpers of the simulated instrument: SCPI header spelling, argument parsing and
// the number format instruments send. Pure functions, no state.
#pragma once

#include <string>
#include <vector>

namespace vx_sim {

std::string upper(std::string s);
// Without leading and trailing blanks, tabs and line ends.
std::string trim(const std::string& s);
// Every piece, empty ones included: "a,,b" gives "a", "", "b".
std::vector<std::string> split(const std::string& s, char delimiter);

// Upper-cases the header, maps long keywords to short ones and drops the optional
// ":DC" of "VOLT:DC:..." so that every spelling of a setting shares one key.
std::string canonical_header(const std::string& raw);

// The whole text (blanks around it allowed, a leading '+' too) must be the number;
// numbers that are not finite are refused. On failure `out` is unchanged.
bool parse_number(const std::string& text, double& out);
bool parse_int(const std::string& text, long long& out);
// "1"/"ON" and "0"/"OFF", any case.
bool parse_bool(const std::string& text, bool& out);

// Range texts: "200mV", "2kOHM", "200uA", "1GΩ", "2μF" on the function commands (the
// case of the prefix matters); the scanner card (`card`) writes them upper case with
// "ML" for milli and "MG" for mega ("200MLV", "10MGOHM"). A plain number is taken in
// base units.
bool parse_range(const std::string& text, bool card, double& out);

// "+1.23456789E+00": the fixed-width scientific form instruments send.
void append_number(std::string& out, double v);
std::string number_text(double v);

}  // namespace vx_sim
