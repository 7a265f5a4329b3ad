// One sink for the core's console lines (identification steps, record paths, VISA
// statuses, skipped project values): the libraries call plib_log, the program decides
// where the lines go. The GUI keeps them on its terminal (the default sink: standard
// output); the command-line program shows them on standard error with --verbose only.
//
// Thread-safe: lines come from the link, timer and engine threads. The sink is guarded
// by one mutex and called under it, so lines never interleave; a sink must not log.
#pragma once

#include <functional>
#include <string>

using plib_log_sink_t = std::function<void(const std::string& line)>;

// One line, without its line feed.
void plib_log(const std::string& line);

// Replaces the sink; an empty sink drops the lines. Returns the previous one.
plib_log_sink_t plib_set_log_sink(plib_log_sink_t sink);

// The default sink: the line and a line feed on standard output, flushed.
void plib_log_to_stdout(const std::string& line);
