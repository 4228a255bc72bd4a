#pragma once

#include "Logger.h"

#include <QFile>
#include <QTimer>

#include <memory>

// Builds loggers over a directory of the test's choice and looks inside them.
class LoggerTestAccess
{
public:
    static std::unique_ptr<Logger> create(const QString& logLocation)
    {
        return std::unique_ptr<Logger>(new Logger(logLocation));
    }
    static QTimer* dayTimer(const Logger& logger) { return logger.m_timer; }
    // The file records currently go to; empty when none is open.
    static QString openFileName(const Logger& logger)
    {
        return logger.m_file && logger.m_file->isOpen() ? logger.m_file->fileName() : QString();
    }
};
