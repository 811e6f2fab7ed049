#ifndef DESCRIPTORLIMIT_H
#define DESCRIPTORLIMIT_H

// Every device connection holds one descriptor. The usual soft limit of
// 1,024 would stop the receiver near a thousand devices, while the hard
// limit, which a process may raise itself to, is far higher. One
// implementation per platform; Windows has no such limit on sockets.
class DescriptorLimit
{
public:
    // Raises the soft limit on open descriptors to the hard limit. The
    // limit in force afterwards, or -1 when the platform has none.
    static long raiseToMaximum();
    // Descriptors the process holds now, or -1 when that is not known.
    static long inUse();
};

#endif // DESCRIPTORLIMIT_H
