#pragma once

// Test helpers: what the kernel says about this process's threads.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orven::test_support {

// The ids of this process's threads, sorted.
inline std::vector<long> thread_ids() {
    // Some runtimes (ThreadSanitizer's) start a helper thread together with
    // the first thread the program starts; let that happen before counting.
    static const bool runtime_settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    static_cast<void>(runtime_settled);
    std::vector<long> ids;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("/proc/self/task"), &::closedir);
    if (!dir) {
        return ids;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.') {
            ids.push_back(std::stol(entry->d_name));
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The thread ids once they equal `expected`, or as they are after a second
// of waiting.  A thread that pthread_join has already returned for can
// still be listed for a moment while the kernel finishes reaping it.
inline std::vector<long> thread_ids_when(const std::vector<long>& expected) {
    std::vector<long> ids = thread_ids();
    for (int round = 0; round < 100 && ids != expected; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ids = thread_ids();
    }
    return ids;
}

// Threads in `after` that are not in `before`.
inline std::vector<long> new_threads(const std::vector<long>& before,
                                     const std::vector<long>& after) {
    std::vector<long> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    return added;
}

// Scheduler state and CPU time of one thread, from /proc/self/task/<id>/stat.
struct ThreadStat {
    char state = '?';
    std::uint64_t cpu_ticks = 0;  // user + system
};

inline ThreadStat thread_stat(long id) {
    std::ifstream in("/proc/self/task/" + std::to_string(id) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name (field 2) may hold spaces; the fields after it don't.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> f((std::istream_iterator<std::string>(fields)),
                               std::istream_iterator<std::string>());
    if (f.size() < 13) {
        return {};
    }
    // f[0] is field 3 (state); utime and stime are fields 14 and 15.
    return ThreadStat{f[0][0], std::stoull(f[11]) + std::stoull(f[12])};
}

}  // namespace orven::test_support
