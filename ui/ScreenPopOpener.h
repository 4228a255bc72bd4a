#pragma once

#include "ScreenPop.h"

#include <QQueue>
#include <QSet>
#include <QString>

class QUrl;

// Opens the caller's page in the user's own system through the desktop's URL
// handler (QDesktopServices::openUrl: the default browser). For an incoming
// call at most once, however often it is asked (the automatic opening, the
// notification's "Openen" clicked twice, a call the service announces twice);
// from the journal each time the user chooses it. The log names the server,
// never the address: a template may carry a key in its query.
// GUI thread only; openUrl hands the address to a detached process and returns.
class ScreenPopOpener
{
public:
    // How many calls are remembered as opened: enough for repeats of a call,
    // which come within seconds.
    static constexpr int RememberedCalls = 256;

    ScreenPopOpener();
    ~ScreenPopOpener();

    // callKey: one incoming call, the same however the call is reached (the
    // road's call id, or the caller's number and the moment it came in).
    // True when the page was handed to the desktop now.
    bool openForCall(const QString& callKey, const QString& urlTemplate, const ScreenPop::Caller& caller);
    // The journal's "Openen in …": the user asked for it, so it opens again.
    bool openOnRequest(const QString& urlTemplate, const ScreenPop::Caller& caller);

private:
    Q_DISABLE_COPY(ScreenPopOpener)

    bool open(const QString& urlTemplate, const ScreenPop::Caller& caller);
    void remember(const QString& callKey);

    QSet<QString> m_opened;
    QQueue<QString> m_order;
};
