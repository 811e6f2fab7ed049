#ifndef VELMORAIMAGES_H
#define VELMORAIMAGES_H

#include <QString>

class QIcon;
class QPixmap;

// The program's images, compiled in under ":/icons/_resources/icons/" and
// addressed by these ids.
enum VelmoraImageId {
    kImageLogo = 10000010,       // 14 x 16, window icon
    kImageExitAction = 10000020, // 32 x 32
    kImageConfAction = 10000030, // 32 x 32
    kImagePort = 10000040,       // 16 x 16 from here on
    kImageComPort = 10000050,
    kImageServer = 10000060,
    kImageLine = 10000070,
    kImageClock = 10000080,
    kImageOk = 10000090,
    kImageError = 10000100,
    kImageBigLogo = 10000110,    // 221 x 48, toolbar logo
};

// The resource path of an id; empty for any other number.
QString iconPath(int id);

// Null icon or pixmap for an unknown id.
QIcon iconFromId(int id);
QPixmap pixmapFromId(int id);

#endif // VELMORAIMAGES_H
