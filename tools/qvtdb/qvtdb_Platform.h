// The few operating-system services the tool needs beyond the library:
// whether standard error is a terminal, starting this very program again as
// a second process, and noticing an interrupt. The only file of the tool
// that includes operating-system headers.
#ifndef QVT_TOOLS_QVTDB_QVTDB_PLATFORM_H
#define QVT_TOOLS_QVTDB_QVTDB_PLATFORM_H

#include <string>
#include <vector>

bool qvtdb_StderrIsTerminal();

// Which file a name stands for now (device and file number), or "" when
// there is none: a file removed and created again under the same name is
// another file.
std::string qvtdb_FileIdentity(const std::string& path);

// Starts this program again with arguments (not including the program
// name); its standard streams are this process's. Answers the child's id.
// THROWS qvtdb_Failure when it cannot be started.
int qvtdb_StartSelf(const std::vector<std::string>& arguments);
// Asks a child started by qvtdb_StartSelf to stop (a termination request);
// false when it is gone already.
bool qvtdb_StopChild(int child);
// Waits for a child started by qvtdb_StartSelf; answers its exit status, or
// 128 + the signal that ended it.
int qvtdb_WaitChild(int child);

// From now on an interrupt (Ctrl-C) or a termination request only sets a
// flag, which qvtdb_Interrupted answers.
void qvtdb_CatchInterrupts();
bool qvtdb_Interrupted();

#endif  // QVT_TOOLS_QVTDB_QVTDB_PLATFORM_H
