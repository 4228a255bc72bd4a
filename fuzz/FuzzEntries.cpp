#include "FuzzEntries.h"

#include "AddressIndex.h"
#include "ContactPayload.h"
#include "InstanceMessage.h"
#include "KarvelonApi.h"
#include "LogRecord.h"
#include "Logger.h"
#include "NumberFinder.h"
#include "PhoneNumber.h"
#include "PluginCommand.h"
#include "ScreenPop.h"
#include "SingleApplication.h"
#include "SipAccount.h"
#include "SocketIOFrame.h"
#include "StoredSipAccounts.h"
#include "VCard.h"
#include "WanIpResolver.h"

#include <QDataStream>
#include <QJsonObject>
#include <QRegExp>
#include <QSet>
#include <QVariant>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace FuzzEntries {

namespace {

// A broken promise is a finding: report it and abort, which libFuzzer (and
// the regression test, through its exit code) treats as a crash.
void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

// Splits the input at its first zero bytes into up to `count` texts, so one
// input can feed several string arguments.
QList<QByteArray> fields(const QByteArray& input, int count)
{
    QList<QByteArray> parts;
    int from = 0;
    while (parts.size() < count - 1) {
        const int zero = input.indexOf('\0', from);
        if (zero < 0)
            break;
        parts.append(input.mid(from, zero - from));
        from = zero + 1;
    }
    parts.append(input.mid(from));
    while (parts.size() < count)
        parts.append(QByteArray());
    return parts;
}

} // namespace

void initialise()
{
    SipAccount::registerMetaType();
}

// The running instance reads framed messages from a socket buffer, then splits
// each into kind and contact.
void callRequest(const uint8_t* data, size_t size)
{
    QByteArray buffer = bytesOf(data, size);
    QString message;
    bool tooLarge = false;
    int before = buffer.size();
    while (SingleApplication::takeMessage(buffer, message, tooLarge)) {
        require(buffer.size() <= before - 4, "takeMessage consumes what it returns");
        before = buffer.size();
        const InstanceMessage::Message parsed = InstanceMessage::parse(message);
        if (message.contains(QLatin1Char('|')))
            require(parsed.kind + QLatin1Char('|') + parsed.rest == message, "kind|rest rebuilds the message");
        else
            require(parsed.kind == message && parsed.rest.isEmpty(), "a message without | is all kind");
        const ContactPayload::Contact contact = ContactPayload::parse(parsed.rest, ContactPayload::SecondStart);
        require(!contact.numbers.isEmpty(), "a contact always has an entry");
    }
    require(!tooLarge || buffer.size() >= 4, "too large is judged on a whole length");

    // Whatever text a second start sends arrives unchanged.
    const QString text = QString::fromUtf8(bytesOf(data, size));
    QByteArray frame = SingleApplication::frameMessage(text);
    if (!frame.isEmpty()) {
        QString back;
        require(SingleApplication::takeMessage(frame, back, tooLarge), "a framed message is whole");
        require(back == text && frame.isEmpty(), "a framed message round-trips");
    }
}

void pluginCommand(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const PluginCommand command = PluginCommand::parse(bytes);
    if (command.isValid())
        require(!command.numbers.isEmpty(), "a valid command has a number");
    else
        require(command.name.isEmpty() && command.numbers.isEmpty(), "an invalid command carries nothing");
    const QString shown = PluginCommand::displayText(bytes);
    require(!shown.contains(QChar(0)), "the log text stops at a NUL byte");
}

void socketIOFrame(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const QString text = SocketIOFrame::textOfBinary(bytes);
    require(!text.contains(QChar(0)), "a binary frame is read up to its NUL byte");
    for (const QString& frame : {text, QString::fromUtf8(bytes)}) {
        const SocketIOFrame parsed = SocketIOFrame::parse(frame);
        constexpr int limit = std::numeric_limits<int>::max() / 4;
        require(parsed.pingTimeoutMsecs >= 0 && parsed.pingTimeoutMsecs <= limit, "ping timeout in range");
        require(parsed.pingIntervalMsecs >= 0 && parsed.pingIntervalMsecs <= limit, "ping interval in range");
        require(frame.startsWith(parsed.code), "the code is the frame's prefix");
        if (parsed.type == SocketIOFrame::Event) {
            // What we send comes back as the same event.
            const SocketIOFrame echoed =
                SocketIOFrame::parse(SocketIOFrame::eventFrame(parsed.eventName, parsed.eventData));
            require(echoed.type == SocketIOFrame::Event && echoed.eventName == parsed.eventName
                        && echoed.eventData == parsed.eventData,
                    "an event frame round-trips");
        }
    }
}

// Reading any line, and writing any record and reading it back unchanged.
void logRecord(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    QJsonObject record;
    const bool parsed = Logger::parseLogRecord(QString::fromUtf8(bytes), record);
    require(parsed != record.isEmpty(), "a parsed record is non-empty, a failed one empty");
    LogRecord::parseLine(bytes, record);

    const QList<QByteArray> parts = fields(bytes, 3);
    const QString component = QString::fromUtf8(parts.at(0));
    const QString msg = QString::fromUtf8(parts.at(1));
    const qint64 msecs = qint64(qChecksum(parts.at(2).constData(), uint(parts.at(2).size()))) * 1000003;
    const int severity = int(size % 4);
    const QByteArray line = LogRecord::formatLine(severity, component, msecs, msg);
    require(line.endsWith('\n') && line.indexOf('\n') == line.size() - 1, "a record is exactly one line");
    QJsonObject back;
    require(LogRecord::parseLine(line, back), "a written record reads back");
    require(back.value(QStringLiteral("component")).toString() == component, "component round-trips");
    require(back.value(QStringLiteral("msg")).toString() == msg, "message round-trips");
    require(back.value(QStringLiteral("severity")).toInt(-1) == severity, "severity round-trips");
}

void apiEnvelope(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    // The first two bytes choose the HTTP status, the rest is the body.
    const int status = bytes.size() >= 2 ? (uchar(bytes.at(0)) << 8 | uchar(bytes.at(1))) % 600 : 200;
    const QByteArray body = bytes.mid(2);
    QJsonObject response;
    bool bodyIsObject = false;
    const bool ok = KarvelonApi::judgeEnvelope(status, body, response, bodyIsObject);
    if (status > 400)
        require(!ok && response.isEmpty(), "a status above 400 fails unread");
    if (!ok && status <= 400)
        require(response.contains(QStringLiteral("head")), "only an envelope with a head reports a failure");
    if (!bodyIsObject)
        require(response.isEmpty(), "a body that is no object gives an empty result");
    const QString description = KarvelonApi::describeFailure(QString(), response);
    require(description.contains(QStringLiteral(": ")), "a described failure is number: message");
    require(KarvelonApi::describeFailure(QStringLiteral("x"), response) == QLatin1String("x"),
            "a network error is described as itself");
    KarvelonApi::parseSipAccounts(response);
}

void wanIpHtml(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const QString address = WanIpResolver::addressFromHtml(bytes);
    require(address == address.trimmed(), "the address is trimmed");
    if (bytes.count(':') != 1)
        require(address.isEmpty(), "only a body with exactly one colon has an address");
    require(!WanIpResolver::addressFromText(bytes).contains(QChar(0)), "text stops at a NUL byte");
}

// The first byte picks the layer: the whole settings file, one "@Variant(...)"
// value's bytes, or a single record for the stream operator.
void storedSipAccounts(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const QByteArray bytes = bytesOf(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        bool found = false;
        const StoredSipAccounts::ParseResult result =
            StoredSipAccounts::parseIni(bytes, QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts"), found);
        if (!found)
            require(result.accounts.isEmpty() && !result.isVariant, "no value, no accounts");
        const QByteArray rest = StoredSipAccounts::withoutIniValue(bytes, QStringLiteral("CustomerGroup"),
                                                                   QStringLiteral("SipAccounts"));
        bool stillThere = false;
        StoredSipAccounts::findIniValue(rest, QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts"),
                                        stillThere);
        if (!found)
            require(rest == bytes, "nothing removed when there is nothing");
        break;
    }
    case 1: {
        // A value our reader calls sound is then handed to Qt's reader as the
        // settings store would: that must not blow up either, and agree.
        const QString text = QStringLiteral("@Variant(") + QString::fromLatin1(bytes) + QLatin1Char(')');
        const StoredSipAccounts::ParseResult result = StoredSipAccounts::parseTexts({text}, false);
        require(result.isVariant, "an @Variant text is a variant");
        if (result.complete) {
            QDataStream in(bytes);
            in.setVersion(QDataStream::Qt_4_0);
            QVariant value;
            in >> value;
            require(in.status() == QDataStream::Ok, "a sound value reads with Qt's reader");
            const QVariantList list = value.toList();
            require(list.size() == result.accounts.size(), "both readers find the same accounts");
            for (int i = 0; i < list.size(); ++i) {
                require(list.at(i).value<SipAccount>().id() == result.accounts.at(i).value<SipAccount>().id(),
                        "both readers read the same ids");
            }
        }
        break;
    }
    default: {
        QDataStream in(bytes);
        in.setVersion(QDataStream::Qt_4_0);
        SipAccount account;
        in >> account;
        if (in.status() != QDataStream::Ok)
            require(account.id().isEmpty() && account.displayName().isEmpty(), "a damaged record stays untouched");
        break;
    }
    }
}

// A template from the settings file and a caller from the network: a template
// that passes the rules gives a page on its own server or none, and no value
// brings anything but encoded text into it.
void screenPop(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fields(bytesOf(data, size), 4);
    const QString urlTemplate = QString::fromUtf8(parts.at(0));
    const ScreenPop::Caller caller{QString::fromUtf8(parts.at(1)), QString::fromUtf8(parts.at(2)),
                                   QString::fromUtf8(parts.at(3))};
    const bool usable = ScreenPop::templateProblem(urlTemplate).isEmpty() && !urlTemplate.trimmed().isEmpty();
    const QUrl page = ScreenPop::pageFor(urlTemplate, caller);
    const QString label = ScreenPop::openInLabel(urlTemplate);
    require(usable || (page.isEmpty() && label.isEmpty()), "a refused template opens nothing");
    if (usable) {
        // Empty values keep the address within its length: it opens.
        const QUrl bare = ScreenPop::pageFor(urlTemplate, {});
        require(bare.isValid() && label.endsWith(QLatin1Char(' ') + bare.host()), "the label names the server");
        if (!page.isEmpty()) {
            const QString scheme = page.scheme();
            require(page.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")),
                    "a page is an http(s) address");
            require(page.host() == bare.host() && page.port() == bare.port(), "no value changes the server");
        }
    }
    for (const QString& value : {caller.number, caller.name, caller.line}) {
        const QByteArray encoded = ScreenPop::encodedValue(value);
        require(encoded.size() <= ScreenPop::MaxValueLength * 12, "a value is cut");
        for (const char c : encoded) {
            const bool unreserved = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                                    || QByteArray("-._~%").contains(c);
            require(unreserved, "a value holds only unreserved characters and escapes");
        }
    }
}

// Any bytes as a vCard file, and what is read put into the caller-name index.
void vCard(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const VCard::ReadResult result = VCard::read(bytes);
    require(result.damagedLine >= 0, "a damaged line is counted from 1");
    AddressIndex index;
    for (const VCard::Contact& contact : result.contacts) {
        require(contact.name == VCard::oneLine(contact.name), "a name is shown on one line");
        for (const QString& number : contact.numbers)
            require(!number.isEmpty(), "a number is never empty");
        index.add(contact.name, contact.numbers);
        for (const QString& number : contact.numbers)
            require(contact.name.isEmpty() || PhoneNumber::nationalForm(number).isEmpty()
                        || !index.lookup(number).isEmpty(),
                    "an indexed number is found again");
    }
    QByteArray unixLines = bytes;
    unixLines.replace("\r\n", "\n");
    require(VCard::read(unixLines).contacts == result.contacts, "CRLF and LF line ends read alike");
}

// Selected text: every number found is one the dial field takes and the
// service dials, made of the text's own digits, and found again on its own.
void numberFinder(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(bytesOf(data, size));
    const QStringList numbers = NumberFinder::findPhoneNumbers(text);
    QString digitsRead;
    for (const QChar c : text.leftRef(NumberFinder::ScanLimit)) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digitsRead.append(c);
    }
    static const QRegExp field(PhoneNumber::fieldPattern());
    QSet<QString> seen;
    for (const QString& number : numbers) {
        require(PhoneNumber::normalized(number) == number, "a number comes normalized");
        require(field.exactMatch(number), "the dial field takes it");
        const QString dialled = PhoneNumber::dialledDigits(number);
        require(dialled.size() >= 8 && dialled.size() <= 17, "the service dials a plausible length");
        require(!seen.contains(PhoneNumber::nationalForm(number)), "each number once");
        seen.insert(PhoneNumber::nationalForm(number));
        int at = 0;
        for (const QChar c : number.midRef(number.startsWith(QLatin1Char('+')) ? 1 : 0)) {
            at = digitsRead.indexOf(c, at) + 1;
            require(at > 0, "its digits come from the text, in order");
        }
    }
    const QString alone = numbers.join(QStringLiteral(", "));
    if (alone.size() <= NumberFinder::ScanLimit)
        require(NumberFinder::findPhoneNumbers(alone) == numbers, "the numbers found are found again on their own");
}

const Target* targets(size_t& count)
{
    static const Target all[] = {
        {"callrequest", callRequest},   {"plugincommand", pluginCommand},
        {"socketioframe", socketIOFrame}, {"logrecord", logRecord},
        {"apienvelope", apiEnvelope},   {"wanip", wanIpHtml},
        {"storedsipaccounts", storedSipAccounts}, {"screenpop", screenPop}, {"vcard", vCard},
        {"numberfinder", numberFinder},
    };
    count = sizeof(all) / sizeof(all[0]);
    return all;
}

} // namespace FuzzEntries
