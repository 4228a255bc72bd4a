#include "ScreenPopOpener.h"

#include "Logger.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
void log(Logger::Severity severity, const QString& message)
{
    Logger::instance()->log(severity, QStringLiteral("Notifier"), message);
}
} // namespace

ScreenPopOpener::ScreenPopOpener() = default;
ScreenPopOpener::~ScreenPopOpener() = default;

bool ScreenPopOpener::openForCall(const QString& callKey, const QString& urlTemplate, const ScreenPop::Caller& caller)
{
    if (m_opened.contains(callKey))
        return false;
    if (!open(urlTemplate, caller))
        return false;
    remember(callKey);
    return true;
}

bool ScreenPopOpener::openOnRequest(const QString& urlTemplate, const ScreenPop::Caller& caller)
{
    return open(urlTemplate, caller);
}

bool ScreenPopOpener::open(const QString& urlTemplate, const ScreenPop::Caller& caller)
{
    if (urlTemplate.trimmed().isEmpty())
        return false; // not set up
    const QString problem = ScreenPop::templateProblem(urlTemplate);
    if (!problem.isEmpty()) {
        log(Logger::Warning, QStringLiteral("Pagina voor de beller niet geopend: %1").arg(problem));
        return false;
    }
    const QUrl url = ScreenPop::pageFor(urlTemplate, caller);
    if (url.isEmpty()) {
        log(Logger::Warning, QStringLiteral("Pagina voor de beller niet geopend: het adres wordt te lang."));
        return false;
    }
    if (!QDesktopServices::openUrl(url)) {
        log(Logger::Warning, QStringLiteral("Kon de pagina voor de beller niet openen in %1.").arg(url.host()));
        return false;
    }
    log(Logger::Info, QStringLiteral("Pagina voor de beller geopend in %1.").arg(url.host()));
    return true;
}

void ScreenPopOpener::remember(const QString& callKey)
{
    m_opened.insert(callKey);
    m_order.enqueue(callKey);
    if (m_order.size() > RememberedCalls)
        m_opened.remove(m_order.dequeue());
}
