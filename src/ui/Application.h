#pragma once

#include <QApplication>

// The program's application object. Every failure that escapes a handler, a timer or a dialog
// reaches the application's error report (ApplicationHandleException) instead of ending the
// program; the event that failed is dropped and the program carries on.
class TApplication final : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
