#include "pgcluster.h"

#include <unistd.h>

bool PgCluster::runsAsRoot()
{
    return geteuid() == 0;
}
