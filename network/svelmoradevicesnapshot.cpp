#include "svelmoradevicesnapshot.h"

int registerVelmoraDeviceSnapshotType()
{
    return qRegisterMetaType<SVelmoraDeviceSnapshot>("SVelmoraDeviceSnapshot");
}
