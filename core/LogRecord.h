#pragma once

#include <QByteArray>
#include <QString>

// One log record rendered as a single line: {"component":..,"date":..,"msg":..,"severity":N}\n
// in UTF-8, keys in ascending order, no spaces, strings escaped as JSON requires.
namespace LogRecord {
QByteArray formatLine(int severity, const QString& component, qint64 msecsSinceEpoch, const QString& msg);
// Appends a JSON string literal (with quotes) for text to out.
void appendJsonString(QByteArray& out, const QString& text);
} // namespace LogRecord
