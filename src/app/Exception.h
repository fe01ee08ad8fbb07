#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

// The program's failure carrying only a message; the application-wide error report shows
// Message(). Components derive their own failures from it.
class Exception : public std::exception
{
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FWhat(FMessage.toUtf8()) {}

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    QByteArray FWhat;
};

// An input/output failure of a file operation (open, seek, read, write, size, truncate, close).
class EInOutError : public Exception
{
public:
    using Exception::Exception;
};
