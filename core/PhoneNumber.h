#pragma once

#include <QString>

// What the program takes for a telephone number, written once: the number
// fields accept it, links and selected text are read with it, the history
// offers it again, and every call sends its digits.
//
// A number is an optional "+" in front and the digits 0-9, with blanks,
// no-break spaces, "-", ".", "/", "(" and ")" between them for the eye. The
// service dials digits only, so "*" and "#" are no part of it anywhere.
namespace PhoneNumber {

// The country the service lives in: its numbers compare in national form.
inline constexpr char HomeCountryCode[] = "31";

// What a number field lets the user type (a QRegExp pattern): what
// normalized() takes, and every beginning of it.
QString fieldPattern();

// The number with its separators removed: "+" and digits only. A "(0)" right
// after a country code is the national trunk prefix and goes too
// ("+31 (0)20-123 45 67" -> "+31201234567"). Empty when the text holds
// anything else, a "+" not in front, or no digit.
QString normalized(const QString& text);
inline bool isDialable(const QString& text) { return !normalized(text).isEmpty(); }

// The digits the service dials: those of the normalized number when there is
// one; its "+" (after leading blanks) becomes the international prefix "00",
// and every character that is not an ASCII digit is dropped.
QString dialledDigits(const QString& text);

// The form in which two notations of one number are equal: numbers of the
// home country in national form ("+31 (0)20-123 45 67", "0031201234567" and
// "020 1234567" all give "0201234567"), others with "00" in front
// ("+32 2 123 45 67" -> "003221234567"). Empty when not a number.
QString nationalForm(const QString& text);

// A telephone link's text with its escapes ("%20", "%2B") decoded. Only
// well-formed ones: a "%" without two hexadecimal digits after it stays as it
// is (QUrl's decoder reads a malformed "%1%2" as a byte of its own and so
// makes up a digit the link never held).
QString percentDecoded(const QString& text);

} // namespace PhoneNumber
