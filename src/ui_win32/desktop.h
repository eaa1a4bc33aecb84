#pragma once

namespace quillfen {

// Whether anyone can see a window of this process: false in a window station without a visible
// desktop (a task run whether the user is logged on or not, a service), where a message box
// would wait for an answer nobody can give.
bool isDesktopVisible();

// Whether a console program shares this process's console (cmd.exe, PowerShell, a batch file):
// then it waits for this process and reads its output and exit code. A console that Windows
// made for this process alone (started from Explorer or a task) has no one else attached.
bool startedFromConsole();

// Gives up a console that Windows made for this process alone, so that its empty window goes
// away while the progress window shows.
void leaveOwnConsole();

}  // namespace quillfen
