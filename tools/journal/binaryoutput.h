#ifndef BINARYOUTPUT_H
#define BINARYOUTPUT_H

// Standard output as the bytes written, without the line end translation
// some systems' C libraries do, so that a CSV line ends in exactly CR LF on
// every system and the JSON and text are the same bytes everywhere.
void useBinaryStandardOutput();

#endif // BINARYOUTPUT_H
