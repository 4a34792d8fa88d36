#pragma once

#include <QString>

#include <ostream>

// `kaldra --send TEXT`: delivers TEXT (OTRSP lines separated by spaces) to the
// running program through its local command socket and writes each answer on
// its own line to `out`. Returns 0 when delivered; when no KALDRA runs, writes
// one line to `err` and returns 1 within a second. Uses blocking waits only, so
// it needs no running event loop.
int sendToRunningProgram(const QString &text, std::ostream &out, std::ostream &err);
