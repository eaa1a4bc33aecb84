#pragma once

namespace quillfen {

// The standard streams' file descriptors, the same on both systems.
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// Whether `fd` is a terminal (on Windows a console) that a person reads. On Windows the
// console is then set to show the UTF-8 the program writes.
bool isTerminal(int fd);

// The width of the terminal on `fd`, or 80 when it cannot be asked.
int terminalColumns(int fd);

}  // namespace quillfen
