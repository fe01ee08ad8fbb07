#pragma once

#include <mutex>

namespace cdrip {

// libcdio keeps process-wide state (drivers, the log handler) and a handle is not safe to share
// between threads, so every call into libcdio or libcdio-paranoia, from the window thread or the
// player's reader, holds this lock.
std::mutex& CdioMutex();

} // namespace cdrip
