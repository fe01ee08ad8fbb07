// Tarvik's start-up: the built-in settings before any window, the application object, the main
// window, the event loop. The main window saves the settings when it closes. With arguments of
// its own the program works on the command line instead and never opens a display.
#include "app/globals.h"
#include "cd/DriveThread.h"
#include "cli/Cli.h"
#include "cli/CommandLine.h"
#include "cli/Interrupt.h"
#include "ui/Application.h"
#include "ui/uMain.h"

#include <QIcon>

#include "platform/DataFiles.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    SetDefaultSettings();

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!StartsWindow(arguments))
        return RunCommandLine(argc, argv);

    TApplication application(argc, argv);
    // Names the configuration folder (~/.config/tarvik).
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));
    const QString icon = FindDataFile(QStringLiteral("icons/tarvik.png"));
    if (!icon.isEmpty())
        QApplication::setWindowIcon(QIcon(icon));

    try {
        int status = 0;
        {
            TfrmMain frmMainWindow;
            // SIGTERM, SIGINT and SIGHUP (a logout, Ctrl-C in the terminal it was started
            // from) close the window as its close box does, from the event loop, never in the
            // handler.
            TInterrupt interrupt;
            interrupt.OnInterrupt = [&frmMainWindow] { frmMainWindow.RequestClose(); };
            frmMainWindow.show();
            status = application.exec();
            if (const int signal = TInterrupt::Signal())
                status = 128 + signal;
        }
        // A drive still spinning a disc up holds a read the closed window no longer waits for.
        // The settings are saved; the program ends without tearing the ripping library down
        // under that read.
        if (TDriveThread::Outstanding() > 0) {
            std::fflush(nullptr);
            std::_Exit(status);
        }
        return status;
    } catch (const std::exception& e) {
        // Only a ripping library that cannot start at all gets here: there is no window to
        // report in.
        std::fprintf(stderr, "tarvik: %s\n", ExceptionMessage(e).toLocal8Bit().constData());
        return 1;
    }
}
