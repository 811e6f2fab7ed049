#include "velmoraimages.h"

#include <QIcon>
#include <QPixmap>

// The bundle lives in this static library; registering it here, while the
// program's static objects are built, makes it available before main() runs
// and pulls the resource object into every binary that uses the images.
static int registerVelmoraImages()
{
    Q_INIT_RESOURCE(velmoraimages);
    return 1;
}
[[maybe_unused]] static const int velmoraImagesRegistered = registerVelmoraImages();

QString iconPath(int id)
{
    const char *fileName = nullptr;
    switch (id) {
    case kImageLogo: fileName = "velmora-dravix-logo.png"; break;
    case kImageExitAction: fileName = "velmora-exit-action.png"; break;
    case kImageConfAction: fileName = "velmora-conf-action.png"; break;
    case kImagePort: fileName = "velmora-port.png"; break;
    case kImageComPort: fileName = "velmora-com-port.png"; break;
    case kImageServer: fileName = "velmora-server.png"; break;
    case kImageLine: fileName = "velmora-line.png"; break;
    case kImageClock: fileName = "velmora-clock.png"; break;
    case kImageOk: fileName = "velmora-ok.png"; break;
    case kImageError: fileName = "velmora-error.png"; break;
    case kImageBigLogo: fileName = "velmora-biglogo.png"; break;
    default: return QString();
    }
    return QStringLiteral(":/icons/_resources/icons/") + QLatin1String(fileName);
}

QIcon iconFromId(int id)
{
    return QIcon(iconPath(id));
}

QPixmap pixmapFromId(int id)
{
    return QPixmap(iconPath(id));
}
