#include "E2eSupport.h"

#include "PbxSimulator.h"
#include "SipAccount.h"
#include "TestSupport.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

namespace E2e {

namespace {
constexpr const char* Tools[] = {"Xvfb", "xdotool", "openbox", "trayer"};

QString binaryDir()
{
    const QString dir = qEnvironmentVariable("KARVELON_TEST_BINARY_DIR");
    return dir.isEmpty() ? QDir::currentPath() : dir;
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
} // namespace

QString missingTools()
{
    QStringList missing;
    for (const char* tool : Tools) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing.append(QString::fromLatin1(tool));
    }
    if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
        missing.append(QStringLiteral("import (ImageMagick)"));
    return missing.isEmpty() ? QString() : QStringLiteral("not installed: ") + missing.join(QStringLiteral(", "));
}

VirtualDesktop::~VirtualDesktop()
{
    stop();
}

bool VirtualDesktop::start()
{
    // -displayfd: the server picks a free display and writes its number.
    m_xvfb.setProgram(QStringLiteral("Xvfb"));
    m_xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp"), QStringLiteral("-noreset")});
    m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    m_xvfb.start();
    if (!m_xvfb.waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (!out.contains('\n') && timer.elapsed() < 20000 && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(200);
        out += m_xvfb.readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        qWarning("Xvfb gave no display number: %s", m_xvfb.readAllStandardError().constData());
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);

    // The window manager, so dialogs get focus, and the tray host.
    m_windowManager.setProcessEnvironment(environment());
    m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_windowManager.start(QStringLiteral("openbox"), QStringList());
    m_tray.setProcessEnvironment(environment());
    m_tray.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                  QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                  QStringLiteral("32"), QStringLiteral("--transparent"), QStringLiteral("false")});
    if (!m_windowManager.waitForStarted(10000) || !m_tray.waitForStarted(10000))
        return false;
    // The tray host owns the tray selection once its window exists.
    for (int i = 0; i < 100; ++i) {
        QProcess search;
        search.setProcessEnvironment(environment());
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer")});
        search.waitForFinished(5000);
        if (!search.readAllStandardOutput().trimmed().isEmpty())
            return true;
        QThread::msleep(100);
    }
    return false;
}

void VirtualDesktop::stop()
{
    stopProcess(m_tray);
    stopProcess(m_windowManager);
    stopProcess(m_xvfb);
}

QProcessEnvironment VirtualDesktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // No session bus here: balloons are Qt's own, shown over the tray icon.
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    return env;
}

bool VirtualDesktop::xdotool(const QStringList& arguments) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool VirtualDesktop::click(const QPoint& at, int button) const
{
    // No "--sync": it waits for ever when the pointer is already there.
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("click"), QString::number(button)});
}

bool VirtualDesktop::type(const QString& text) const
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

bool VirtualDesktop::key(const QString& keys) const
{
    return xdotool({QStringLiteral("key"), keys});
}

QString VirtualDesktop::screenshot(const QString& name) const
{
    const QString dir = binaryDir() + QStringLiteral("/e2e-screenshots");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        qWarning("screenshot %s failed", qPrintable(path));
    return path;
}

Karvelon::Karvelon(const VirtualDesktop& desktop, PbxSimulator& simulator, const QString& profileName)
    : m_desktop(desktop)
    , m_simulator(simulator)
{
    QString base = TestSupport::testHome();
    if (base.isEmpty())
        base = QDir::tempPath();
    m_profile = base + QLatin1Char('/') + profileName;
    for (const char* sub : {"home", "config/Karvelon", "data", "cache", "runtime", "tmp"})
        QDir().mkpath(m_profile + QLatin1Char('/') + QString::fromLatin1(sub));
    QFile::setPermissions(m_profile + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_probePath = m_profile + QStringLiteral("/runtime/probe");
    m_commandServer = m_profile + QStringLiteral("/runtime/plugin-socket");

    // The demo customer of tools/pbx-sim/demo-config.json; the SIP accounts
    // come from the start-up merge, as on a real first start.
    QFile ini(settingsFile());
    if (ini.open(QIODevice::WriteOnly)) {
        ini.write("[CustomerGroup]\nNumber=100234\nPassword=demo-wachtwoord\n\n"
                  "[Notifications]\nEnabled=true\nUsername=demo\nPassword=demo-popup\n\n"
                  "[ClickToDial]\nId=c2d-demo\nKey=c2d-demo-sleutel-7f3a\nDefaultSip=201\n\n"
                  "[OutlookPlugin]\nId=outlook-demo\nKey=outlook-demo-sleutel-91bc\nDefaultSip=201\n\n"
                  "[ThunderbirdPlugin]\nId=thunderbird-demo\nKey=thunderbird-demo-sleutel-e85f\nDefaultSip=201\n\n"
                  "[AppleContactsPlugin]\nId=acontacts-demo\nKey=acontacts-demo-sleutel-4d20\nDefaultSip=201\n");
        ini.close();
        ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

void Karvelon::checkClickToDialAccounts(const QStringList& ids)
{
    SipAccount::registerMetaType();
    const QList<QPair<QString, QString>> demo{{QStringLiteral("201"), QStringLiteral("Kantoor")},
                                              {QStringLiteral("202"), QStringLiteral("Receptie")},
                                              {QStringLiteral("203"), QStringLiteral("Thuiswerkplek")}};
    QVariantList accounts;
    for (const auto& account : demo) {
        accounts.append(QVariant::fromValue(
            SipAccount(SourceType::ClickToDial, account.second, account.first, ids.contains(account.first))));
    }
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("CustomerGroup/SipAccounts"), accounts);
}

Karvelon::~Karvelon()
{
    stopProcess(m_process);
}

QString Karvelon::settingsFile() const
{
    return m_profile + QStringLiteral("/config/Karvelon/Karvelon.ini");
}

QProcessEnvironment Karvelon::environment() const
{
    QProcessEnvironment env = m_desktop.environment();
    env.insert(QStringLiteral("HOME"), m_profile + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_profile + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_profile + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_profile + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_profile + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("TMPDIR"), m_profile + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("KARVELON_E2E_API_BASE_URL"), m_simulator.apiBaseUrl());
    env.insert(QStringLiteral("KARVELON_E2E_NOTIFY_URL"), m_simulator.notifyUrl().toString());
    env.insert(QStringLiteral("KARVELON_E2E_PROBE"), m_probePath);
    // Under AddressSanitizer: the X keyboard library's bounded copies are
    // not ours to report (see the file).
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!asan.isEmpty())
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   asan + QStringLiteral(":suppressions=" KARVELON_E2E_SOURCE_DIR "/asan-suppressions.txt"));
    if (m_commandServer.isEmpty())
        env.remove(QStringLiteral("KARVELON_E2E_COMMAND_SERVER"));
    else
        env.insert(QStringLiteral("KARVELON_E2E_COMMAND_SERVER"), m_commandServer);
    return env;
}

bool Karvelon::start(const QStringList& arguments)
{
    m_process.setProcessEnvironment(environment());
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(QStringLiteral(KARVELON_E2E_LAUNCHER), arguments);
    return m_process.waitForStarted(10000);
}

bool Karvelon::waitForTray(int msecs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < msecs && m_process.state() == QProcess::Running) {
        const QJsonObject tray = state().value(QStringLiteral("tray")).toObject();
        if (tray.value(QStringLiteral("w")).toInt() > 0 && tray.value(QStringLiteral("visible")).toBool())
            return true;
        QTest::qWait(100);
    }
    return false;
}

bool Karvelon::waitForExit(int msecs, int* exitCode)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(msecs))
        return false;
    *exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    return true;
}

QJsonObject Karvelon::state() const
{
    QLocalSocket socket;
    socket.connectToServer(m_probePath);
    if (!socket.waitForConnected(2000))
        return QJsonObject();
    socket.write("state\n");
    socket.waitForBytesWritten(2000);
    QByteArray line;
    QElapsedTimer timer;
    timer.start();
    while (!line.endsWith('\n') && timer.elapsed() < 5000) {
        if (!socket.waitForReadyRead(500) && socket.state() != QLocalSocket::ConnectedState)
            break;
        line += socket.readAll();
    }
    return QJsonDocument::fromJson(line).object();
}

QJsonObject Karvelon::window(const QString& titleOrClass) const
{
    const QJsonArray windows = state().value(QStringLiteral("windows")).toArray();
    for (const QJsonValue& value : windows) {
        const QJsonObject w = value.toObject();
        const QString title = w.value(QStringLiteral("title")).toString();
        if (title == titleOrClass || title == titleOrClass + QStringLiteral(" *")
            || w.value(QStringLiteral("class")).toString() == titleOrClass
            || w.value(QStringLiteral("name")).toString() == titleOrClass)
            return w;
    }
    return QJsonObject();
}

QJsonObject Karvelon::child(const QJsonObject& window, const QString& objectName)
{
    const QJsonArray widgets = window.value(QStringLiteral("widgets")).toArray();
    for (const QJsonValue& value : widgets) {
        if (value.toObject().value(QStringLiteral("name")).toString() == objectName)
            return value.toObject();
    }
    return QJsonObject();
}

QJsonObject Karvelon::action(const QJsonObject& menu, const QString& text)
{
    const QJsonArray actions = menu.value(QStringLiteral("actions")).toArray();
    for (const QJsonValue& value : actions) {
        if (value.toObject().value(QStringLiteral("text")).toString().contains(text))
            return value.toObject();
    }
    return QJsonObject();
}

QPoint Karvelon::centre(const QJsonObject& rect)
{
    return QPoint(rect.value(QStringLiteral("x")).toInt() + rect.value(QStringLiteral("w")).toInt() / 2,
                  rect.value(QStringLiteral("y")).toInt() + rect.value(QStringLiteral("h")).toInt() / 2);
}

QJsonObject Karvelon::openTrayMenu()
{
    const QJsonObject tray = state().value(QStringLiteral("tray")).toObject();
    if (!m_desktop.click(centre(tray), 3))
        return QJsonObject();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        const QJsonObject menu = window(QStringLiteral("QMenu"));
        // Ready for typing once the number field has the focus.
        if (!menu.isEmpty() && state().value(QStringLiteral("focus")).toString() == QLatin1String("txtPhoneNumber"))
            return menu;
        QTest::qWait(100);
    }
    return QJsonObject();
}

QByteArray Karvelon::log() const
{
    return TestSupport::readFile(m_profile + QStringLiteral("/data/Karvelon/Karvelon/logs/")
                                 + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt"));
}

int Karvelon::runSecond(const QStringList& arguments, QByteArray* errorOutput)
{
    QProcess second;
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("KARVELON_E2E_PROBE"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(KARVELON_E2E_LAUNCHER), arguments);
    if (!second.waitForFinished(30000)) {
        second.kill();
        second.waitForFinished();
        return -1;
    }
    if (errorOutput)
        *errorOutput = second.readAllStandardError();
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

QJsonArray callsTo(PbxSimulator& simulator, const QString& script)
{
    QJsonArray result;
    const QJsonArray all = simulator.requests();
    for (const QJsonValue& value : all) {
        const QJsonObject request = value.toObject();
        const bool listRequest = queryValue(request, QStringLiteral("sipacc")) == QLatin1String("0")
                                 && queryValue(request, QStringLiteral("telnr")) == QLatin1String("0");
        if (request.value(QStringLiteral("endpoint")).toString().endsWith(script) && !listRequest)
            result.append(value);
    }
    return result;
}

QString queryValue(const QJsonObject& request, const QString& key)
{
    const QUrlQuery query(request.value(QStringLiteral("rawQuery")).toString());
    return query.queryItemValue(key, QUrl::FullyDecoded);
}

} // namespace E2e
