// SPDX-License-Identifier: GPL-2.0-or-later
// Starting the external programs of the PDF path (qpdf, the CUPS pdftops
// filter) without a shell: every argument reaches the program exactly as given.
// What a tool logs reaches the job log line by line, and only its messages
// keep their prefix (see LogRelay).
#pragma once

#include <string>
#include <vector>

namespace varkon {

enum class ToolOutput {
    Capture,  // standard output is collected into ToolResult::output
    ToStderr, // standard output goes to the job log, never to the printer
    ToFd,     // standard output goes to the given descriptor
};

struct ToolResult {
    int spawn_error = 0;  // error number when the program could not be started
    int exit_status = -1; // its exit status; -1 when a signal ended it
    std::string output;   // what it wrote, with ToolOutput::Capture

    bool started() const { return spawn_error == 0; }
};

// Runs argv[0] (looked up in PATH when it holds no '/') with standard input
// from /dev/null in a process group of its own, and waits for it; whatever it
// started and left running is killed with the group. A job cancelled meanwhile
// passes the termination signal on, so that the program ends early.
ToolResult run_tool(const std::vector<std::string> &argv, ToolOutput output, int out_fd = -1);

// The first line of a tool's output, without its line end.
std::string first_output_line(const std::string &output);

} // namespace varkon
