#include "heapusage.h"

#include <malloc.h>

qint64 heapBytesInUse()
{
    // Allocations served from the main arena and those large enough to get
    // pages of their own.
    const struct mallinfo2 info = mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
}
