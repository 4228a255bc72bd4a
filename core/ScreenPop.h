#pragma once

#include <QMetaType>
#include <QString>
#include <QUrl>

// Opening the caller in the user's own system ("screen pop"): a web address
// with {nummer}, {naam} and {op} in it, filled in per incoming call. The rules
// for such an address and the filling in, as pure functions; the settings
// dialog, the opener, the notification's "Openen" and the journal's
// "Openen in …" all use these.
namespace ScreenPop {

inline constexpr int MaxTemplateLength = 2000;
// A value is cut to this many characters before it is encoded: the caller's
// name comes from outside and must not grow the address without bound.
inline constexpr int MaxValueLength = 200;
// A filled-in address longer than this is not opened (a template that repeats
// its placeholders many times).
inline constexpr int MaxUrlLength = 8000;

enum class Mode
{
    Automatic, // "auto": the page opens when the call comes in
    Button,    // "button": through "Openen" in the notification
};

// What the settings file holds ("ScreenPop"/"Url" and "ScreenPop"/"Mode").
struct Setup
{
    QString urlTemplate; // empty: off
    Mode mode = Mode::Automatic;
};
Setup readSetup();
void writeSetup(const Setup& setup);
// "auto" and "button"; anything else reads as Automatic.
QString modeName(Mode mode);
Mode modeFromName(const QString& name);

// One incoming call, as far as the address can use it.
struct Caller
{
    QString number; // {nummer}: the caller's number
    QString name;   // {naam}: the contact's name, when known
    QString line;   // {op}: the number that was called
};

// Why the template cannot be used, in Dutch for the settings dialog; empty
// when it can (an empty template too: it means off). Accepted are http and
// https addresses of at most MaxTemplateLength characters, with at least one
// placeholder and none in the server name, that are valid once filled in.
QString templateProblem(const QString& urlTemplate);

// A value as it goes into the address: control and other invisible
// characters dropped, cut to MaxValueLength, then percent-encoded as UTF-8
// (only letters, digits and "-._~" stay as they are).
QByteArray encodedValue(const QString& value);

// The address for one call; empty when the template has a problem or the
// result would be longer than MaxUrlLength.
QUrl pageFor(const QString& urlTemplate, const Caller& caller);

// The journal's entry: "Openen in %1" with the template's server name; empty
// when the template cannot be used.
QString openInLabel(const QString& urlTemplate);

} // namespace ScreenPop

Q_DECLARE_METATYPE(ScreenPop::Caller)
