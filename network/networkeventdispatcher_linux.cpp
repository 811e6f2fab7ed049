#include "networkeventdispatcher.h"

#include "epolleventdispatcher.h"

QAbstractEventDispatcher *NetworkEventDispatcher::create()
{
    return new EpollEventDispatcher;
}
