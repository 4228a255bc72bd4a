#include "SelectionReader.h"

#include "Logger.h"
#include "NumberFinder.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QX11Info>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

bool isX11()
{
    return QX11Info::isPlatformX11() && QX11Info::connection();
}

} // namespace

SelectionReader::SelectionReader(const SelectionReaderConfig& config, QObject* parent)
    : QObject(parent), m_config(config), m_timeout(new QTimer(this))
{
    qRegisterMetaType<Source>();
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this]() {
        Logger::instance()->log(
            Logger::Warning, QStringLiteral("Sneltoets"),
            m_asking == Selection
                ? QStringLiteral("Het programma met de geselecteerde tekst antwoordt niet; het klembord wordt gelezen.")
                : QStringLiteral("Het programma met de inhoud van het klembord antwoordt niet."));
        answered(QString::fromUtf8(m_bytes));
    });
    if (!isX11())
        return;

    xcb_connection_t* connection = QX11Info::connection();
    const char* const names[] = {"CLIPBOARD", "UTF8_STRING", "INCR", "_KARVELON_PRIMARY", "_KARVELON_CLIPBOARD"};
    xcb_intern_atom_cookie_t cookies[5];
    for (int i = 0; i < 5; ++i)
        cookies[i] = xcb_intern_atom(connection, 0, uint16_t(strlen(names[i])), names[i]);
    quint32 atoms[5] = {};
    for (int i = 0; i < 5; ++i) {
        const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : quint32(XCB_ATOM_NONE);
    }
    m_selectionAtom[Selection] = XCB_ATOM_PRIMARY;
    m_selectionAtom[Clipboard] = atoms[0];
    m_utf8 = atoms[1];
    m_incr = atoms[2];
    m_propertyAtom[Selection] = atoms[3];
    m_propertyAtom[Clipboard] = atoms[4];

    // An unmapped window of our own, told about changes to its properties
    // (a large selection arrives piece by piece through them).
    m_window = xcb_generate_id(connection);
    const uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, m_window, QX11Info::appRootWindow(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &eventMask);
    xcb_flush(connection);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

SelectionReader::~SelectionReader()
{
    if (m_window && isX11()) {
        xcb_destroy_window(QX11Info::connection(), m_window);
        xcb_flush(QX11Info::connection());
    }
}

bool SelectionReader::readsSelection() const
{
    return m_window != 0;
}

bool SelectionReader::isReading() const
{
    return m_asking != Nothing;
}

void SelectionReader::read()
{
    if (isReading())
        return;
    if (readsSelection()) {
        ask(Selection);
        return;
    }
    // Wayland hands the clipboard over a pipe that Qt reads with a bound of its own.
    m_asking = Clipboard;
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text = clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
    QMetaObject::invokeMethod(
        this, [this, text]() { answered(text.left(m_config.maxBytes)); }, Qt::QueuedConnection);
}

void SelectionReader::ask(Source source)
{
    m_asking = source;
    m_bytes.clear();
    m_incremental = false;
    m_latin1 = false;
    xcb_connection_t* connection = QX11Info::connection();
    xcb_delete_property(connection, m_window, m_propertyAtom[source]);
    xcb_convert_selection(connection, m_window, m_selectionAtom[source], m_utf8, m_propertyAtom[source],
                          XCB_CURRENT_TIME);
    xcb_flush(connection);
    m_timeout->start(m_config.answerTimeoutMsecs);
}

bool SelectionReader::nativeEventFilter(const QByteArray& eventType, void* message, long*)
{
    if (!m_window || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_SELECTION_NOTIFY: {
        const auto* notify = static_cast<const xcb_selection_notify_event_t*>(message);
        if (notify->requestor != m_window)
            return false;
        // A late answer to an earlier question is dropped.
        if (isReading() && !m_incremental && notify->selection == m_selectionAtom[m_asking]) {
            if (notify->property == XCB_ATOM_NONE)
                answered(QString()); // no owner, or no text to give
            else
                takeProperty();
        }
        return true;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
        if (property->window != m_window)
            return false;
        if (m_incremental && property->atom == m_propertyAtom[m_asking] && property->state == XCB_PROPERTY_NEW_VALUE)
            takeProperty();
        return true;
    }
    default:
        return false;
    }
}

// The owner has written (a piece of) the text into our property: take what
// fits, and delete the property, which also asks an incremental owner for
// the next piece.
void SelectionReader::takeProperty()
{
    xcb_connection_t* connection = QX11Info::connection();
    const quint32 property = m_propertyAtom[m_asking];
    const uint32_t words = uint32_t(qMax(0, m_config.maxBytes - m_bytes.size()) + 3) / 4;
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, words), nullptr));
    xcb_delete_property(connection, m_window, property);
    xcb_flush(connection);
    if (!reply) {
        answered(QString());
        return;
    }
    if (reply->type == m_incr && !m_incremental) {
        m_incremental = true; // the pieces follow as the property is deleted
        return;
    }
    // Text only: a picture or other data offered under our target is not read.
    const bool text = reply->format == 8 && (reply->type == m_utf8 || reply->type == XCB_ATOM_STRING);
    const int length = text ? xcb_get_property_value_length(reply.get()) : 0;
    m_latin1 = reply->type == XCB_ATOM_STRING;
    m_bytes.append(static_cast<const char*>(xcb_get_property_value(reply.get())),
                   qMin(length, m_config.maxBytes - m_bytes.size()));
    // A whole answer, the last (empty) piece, enough of a large one, or no text.
    if (!m_incremental || length == 0 || m_bytes.size() >= m_config.maxBytes || !text)
        answered(m_latin1 ? QString::fromLatin1(m_bytes) : QString::fromUtf8(m_bytes));
}

void SelectionReader::answered(const QString& text)
{
    m_timeout->stop();
    m_incremental = false;
    const Source source = m_asking;
    const QStringList numbers = NumberFinder::findPhoneNumbers(text);
    if (!numbers.isEmpty())
        finish(numbers, source);
    else if (source == Selection)
        ask(Clipboard);
    else
        finish(QStringList(), Nothing);
}

void SelectionReader::finish(const QStringList& numbers, Source source)
{
    m_asking = Nothing;
    m_bytes.clear();
    // Not from inside X's event handling: whoever listens may open a window.
    QMetaObject::invokeMethod(
        this, [this, numbers, source]() { emit finished(numbers, source); }, Qt::QueuedConnection);
}
