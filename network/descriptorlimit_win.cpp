#include "descriptorlimit.h"

long DescriptorLimit::raiseToMaximum()
{
    return -1;
}

long DescriptorLimit::inUse()
{
    return -1;
}
