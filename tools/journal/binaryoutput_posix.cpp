#include "binaryoutput.h"

// POSIX streams never translate line ends.
void useBinaryStandardOutput() {}
