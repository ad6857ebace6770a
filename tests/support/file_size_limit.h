#pragma once

#include <sys/resource.h>

#include <csignal>

namespace lumen::test
{

// Files this process writes cannot grow past `bytes` while it lives: writes
// beyond fail (EFBIG) as on a full disk, for root as for anyone.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};

} // namespace lumen::test
