#pragma once

#include <QStringList>

// Telephone numbers in free text: what the user selected or copied (an e-mail
// signature, a web page, a chat line) before asking to dial it.
namespace NumberFinder {

// Only the start of a text is read: a selection of a megabyte costs what one
// of a few lines costs, and a number is rarely further down than this.
inline constexpr int ScanLimit = 4096;

// The telephone numbers in the first ScanLimit characters of `text`, in the
// order in which they appear, each as PhoneNumber::normalized() writes it
// ("+31 (0)20-123 45 67" -> "+31201234567") and each number once, however
// often and in whatever notation it occurs. A number may run over one line
// break; "tel:" and "callto:" links count as their number.
//
// A number starts with "+", "00" or "0" and has a plausible length: ten digits
// for a Dutch number in national form (8 or 11 for 0800 and 090x numbers),
// nine after "+31", at most fifteen after any other country code. Digit runs
// that only look like one are skipped: dates, time ranges, postcodes, IBANs,
// amounts, digits glued to words, and numbers labelled as something else
// ("Bestelnummer", "Factuur", "Klantnr.", "KvK", "BTW", ...).
QStringList findPhoneNumbers(const QString& text);

} // namespace NumberFinder
