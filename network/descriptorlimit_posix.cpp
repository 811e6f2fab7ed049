#include "descriptorlimit.h"

#include <climits>
#include <dirent.h>
#include <initializer_list>
#include <sys/resource.h>

long DescriptorLimit::raiseToMaximum()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        // An unlimited hard limit is refused by some systems as a soft one;
        // then the old limit stays in force.
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(LONG_MAX) ? LONG_MAX : long(limit.rlim_cur);
}

long DescriptorLimit::inUse()
{
    // One entry per open descriptor, besides "." and ".." and the one the
    // listing itself holds.
    for (const char *listing : {"/proc/self/fd", "/dev/fd"}) {
        DIR *directory = opendir(listing);
        if (!directory)
            continue;
        long entries = 0;
        while (readdir(directory))
            ++entries;
        closedir(directory);
        return entries > 3 ? entries - 3 : 0;
    }
    return -1;
}
