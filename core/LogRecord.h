#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One log record rendered as a single line: {"component":..,"date":..,"msg":..,"severity":N}\n
// in UTF-8, keys in ascending order, no spaces, strings escaped as JSON requires.
// Always UTF-8, whatever the locale: the reader decodes UTF-8.
namespace LogRecord {
QByteArray formatLine(int severity, const QString& component, qint64 msecsSinceEpoch, const QString& msg);
// Appends the same line to out, so a writer can reuse one buffer for every record.
void appendLine(QByteArray& out, int severity, const QString& component, qint64 msecsSinceEpoch, const QString& msg);
// Appends a JSON string literal (with quotes) for text to out.
void appendJsonString(QByteArray& out, const QString& text);
// Parses one line of UTF-8 (a trailing line feed is harmless). True when it holds a
// non-empty JSON object, which is then put in record; false otherwise (record emptied).
bool parseLine(const QByteArray& utf8Line, QJsonObject& record);
} // namespace LogRecord
