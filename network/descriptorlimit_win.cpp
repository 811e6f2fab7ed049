#include "descriptorlimit.h"

long DescriptorLimit::raiseToMaximum()
{
    return -1;
}
