#include "heapusage.h"

qint64 heapBytesInUse()
{
    return -1;
}
