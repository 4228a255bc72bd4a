#pragma once

#include "Logger.h"

#include <memory>

// Builds loggers over a directory of the test's choice and looks inside them.
class LoggerTestAccess
{
public:
    static std::unique_ptr<Logger> create(const QString& dir) { return std::unique_ptr<Logger>(new Logger(dir)); }
    static QTimer* dayTimer(const Logger& logger) { return logger.m_timer; }
};
