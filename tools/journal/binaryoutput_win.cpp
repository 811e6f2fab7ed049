#include "binaryoutput.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

// In text mode the C library turns every LF into CR LF, and the CSV's own
// CR LF into CR CR LF.
void useBinaryStandardOutput()
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}
