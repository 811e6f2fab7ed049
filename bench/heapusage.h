#ifndef HEAPUSAGE_H
#define HEAPUSAGE_H

#include <QtGlobal>

// Bytes the C library's heap has handed out and not yet taken back, or -1
// where this system offers no way to ask. Benchmarks take the difference of
// two readings to tell what a data structure costs.
qint64 heapBytesInUse();

#endif // HEAPUSAGE_H
