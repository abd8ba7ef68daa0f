#pragma once

#include <QStringList>

// Collects every Qt message while it lives, in order, as the texts were composed (no
// prefix), instead of printing them.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    void clear();
    int count(const QString& line) const { return static_cast<int>(lines().count(line)); }
    bool contains(const QString& line) const { return lines().contains(line); }
};
