#include "velmora.h"
#include "velmoraclock.h"
#include "velmoralog.h"
#include "velmorastartup.h"
#include "velmorastopsignals.h"
#include "velmoratranslators.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    VelmoraStopSignals::install();
    Velmora window;
    VelmoraStartup startup(window, VelmoraClock::system());
    installVelmoraTranslators(QCoreApplication::applicationDirPath() + QStringLiteral("/translate/"));

    // The window refuses to close, so the event loop ends only when the
    // toolkit ends it by itself. The worker threads may be running by then
    // and are never stopped: leave without tearing down the log writer and
    // the configuration they use, as the Exit button does.
    const int result = startup.run() == -1 ? -1 : application.exec();
    VelmoraCommon_LogEnd();
    std::_Exit(result);
}
