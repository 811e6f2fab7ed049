#include "svelmoramsg.h"

int registerVelmoraMsgType()
{
    return qRegisterMetaType<SVelmoraMsg>("SVelmoraMsg");
}
