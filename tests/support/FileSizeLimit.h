#pragma once

#include <sys/resource.h>

// While alive, every file this process writes fails past `bytes` bytes (EFBIG), the way a full
// disk makes a write fail half-way. SIGXFSZ is ignored meanwhile so the failure is a plain error.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};
