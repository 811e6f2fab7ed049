#include "pgcluster.h"

// No server binaries are looked for here, so the cluster is never started:
// the Windows build keeps its journal in a file (and under Wine the Linux
// binaries would be found at the same paths, but cannot run).
QString PgCluster::binDirectory()
{
    return QString();
}

bool PgCluster::runsAsRoot()
{
    return false;
}
