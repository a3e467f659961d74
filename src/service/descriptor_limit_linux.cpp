// The descriptor limit raised at start (see descriptor_limit.h).
#include "service/descriptor_limit.h"

#include "log/log.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        logPrint(LogStamp::With, "limits: descriptor limit unknown (%s)\n", std::strerror(errno));
        return;
    }
    const auto soft = static_cast<unsigned long long>(limit.rlim_cur);
    const auto hard = static_cast<unsigned long long>(limit.rlim_max);
    if (soft == hard) {
        logPrint(LogStamp::With, "limits: descriptor limit %llu (already the hard limit)\n", soft);
        return;
    }
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        logPrint(LogStamp::With,
                 "limits: descriptor limit %llu kept, raising it to %llu failed (%s)\n", soft, hard,
                 std::strerror(errno));
        return;
    }
    logPrint(LogStamp::With, "limits: descriptor limit raised from %llu to %llu\n", soft, hard);
}
