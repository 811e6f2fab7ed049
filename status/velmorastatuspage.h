#ifndef VELMORASTATUSPAGE_H
#define VELMORASTATUSPAGE_H

#include <QByteArray>
#include <QCoreApplication>

// The operator's page: one self-contained HTML document (no external files)
// in the program's language, which fetches /status.json every few seconds
// and shows the status bar's texts, the events held and set aside and the
// devices. Send again and Release post to /action with the password.
class VelmoraStatusPage
{
    Q_DECLARE_TR_FUNCTIONS(VelmoraStatusPage)

public:
    static constexpr int kRefreshMs = 3000;

    // Translated with the translators installed when it is called.
    static QByteArray html(bool actionsAllowed);
};

#endif // VELMORASTATUSPAGE_H
