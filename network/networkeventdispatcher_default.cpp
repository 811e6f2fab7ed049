#include "networkeventdispatcher.h"

QAbstractEventDispatcher *NetworkEventDispatcher::create()
{
    return nullptr;
}
