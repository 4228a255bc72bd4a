#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QStringList>

class QTimer;

struct SelectionReaderConfig
{
    // How long the program that owns a selection may take to hand it over
    // before the next place is tried: an owner that never answers must not
    // keep the dial window waiting.
    int answerTimeoutMsecs = 400;
    // What is taken of a selection at most: enough for what NumberFinder
    // reads in any encoding.
    int maxBytes = 16 * 1024;
};

// Reads the telephone numbers the user selected or copied: the selected text
// (X11's PRIMARY selection) and, when that holds no number, the clipboard.
// On X11 both are asked for over xcb and answered through the event loop, so
// the GUI thread never waits for the program that owns them (Qt's own
// QClipboard::text() waits seconds for one that does not answer). Only text is
// taken, and only its start. Without X11 (Wayland) only the clipboard can be
// read, through QClipboard.
class SelectionReader : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    enum Source
    {
        Nothing,
        Selection,
        Clipboard
    };
    Q_ENUM(Source)

    explicit SelectionReader(const SelectionReaderConfig& config = SelectionReaderConfig(), QObject* parent = nullptr);
    ~SelectionReader() override;

    // Whether the selected text is read, or only the clipboard.
    bool readsSelection() const;
    // Starts reading and returns at once; finished() follows. A read() while
    // one is under way joins it.
    void read();
    bool isReading() const;

signals:
    // The numbers found (NumberFinder::findPhoneNumbers) and where; no
    // numbers and Nothing when neither place holds one.
    void finished(const QStringList& numbers, SelectionReader::Source source);

protected:
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

private:
    Q_DISABLE_COPY(SelectionReader)

    void ask(Source source);
    void takeProperty();
    void answered(const QString& text);
    void finish(const QStringList& numbers, Source source);

    const SelectionReaderConfig m_config;
    QTimer* m_timeout;
    Source m_asking = Nothing;
    // The window the owners write to, one property per selection so that a
    // late answer from one never passes for the other's.
    quint32 m_window = 0;
    quint32 m_selectionAtom[3] = {};
    quint32 m_propertyAtom[3] = {};
    quint32 m_utf8 = 0;
    quint32 m_incr = 0;
    bool m_incremental = false;
    bool m_latin1 = false;
    QByteArray m_bytes;
};
