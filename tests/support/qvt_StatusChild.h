// CommandedChild, declared beside the other child processes.
#ifndef QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
#define QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
#include "qvt_ChildProcess.h"
#endif  // QVT_TESTS_SUPPORT_QVT_STATUSCHILD_H
