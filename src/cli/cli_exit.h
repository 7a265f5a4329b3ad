// The process exit codes of velkaro-cli: one meaning each, whatever the command. The
// table is what --help lists (and the README repeats).
#pragma once

namespace velkaro_cli {

enum cli_exit_t : int {
    cli_exit_ok = 0,
    cli_exit_link = 1,
    cli_exit_usage = 2,
    cli_exit_connect = 3,
    cli_exit_model = 4,
    cli_exit_function = 5,
    cli_exit_file = 6,
    cli_exit_run = 7,
    cli_exit_publish = 8,
};

struct cli_exit_info_t {
    cli_exit_t code;
    const char* meaning;
};

inline constexpr cli_exit_info_t cli_exit_table[] = {
    {cli_exit_ok, "success"},
    {cli_exit_link,
     "the instrument or the VISA layer reported a failure, the link was lost, or the instrument went silent"},
    {cli_exit_usage, "bad arguments or settings, an unusable path, not a project file"},
    {cli_exit_connect, "the instrument could not be opened or gave no readable identification"},
    {cli_exit_model, "the instrument is not the chosen model"},
    {cli_exit_function, "the model has no such measurement function"},
    {cli_exit_file, "a result file could not be written"},
    {cli_exit_run, "the run did not start (no scanner card) or did not stop in time"},
    {cli_exit_publish,
     "not every reading reached the databases in time: the rest is left spooled for the next run (or was "
     "refused, or did not fit the spool)"},
};

}  // namespace velkaro_cli
