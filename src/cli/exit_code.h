#pragma once
// The exit codes a script can branch on; --help and the README list the same numbers.

namespace torvix::cli {

enum class ExitCode : int {
    Ok = 0,
    PortUnavailable = 1,  // missing, busy or not permitted
    Usage = 2,            // bad command line, settings that do not parse
    ExceptionReply = 3,   // the controller refused the request
    NoAnswer = 4,         // no valid reply in time; run: an `until` not met; scan: none found
    ExpectFailed = 5,     // run: an `expect` did not hold; conformance: a check failed
    Interrupted = 130,    // stopped before its end (Ctrl+C, as a shell reports SIGINT)
};

inline constexpr const char* kExitCodeHelp =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the port cannot be opened (missing, busy, no permission)\n"
    "  2  usage error: unknown command or option, number out of range, bad line settings\n"
    "  3  the controller answered with an exception (printed with its meaning); run: a send "
    "refused\n"
    "  4  no valid answer in time (read: 1 s; send: --timeout); run: an until not met in time;\n"
    "     conformance: no answer at all, or none after a frame of the fuzzer; scan: no controller\n"
    "  5  run: an expect did not hold; conformance: a check failed\n"
    "  130  run, conformance, scan: stopped before the end by Ctrl+C; run: or a failed write of\n"
    "     the records\n";

}  // namespace torvix::cli
