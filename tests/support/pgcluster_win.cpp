#include "pgcluster.h"

// No server binaries are looked for here (binDirectory() is empty), so the
// cluster is never started.
bool PgCluster::runsAsRoot()
{
    return false;
}
