#include "ui/Application.h"

#include "ui/uMain.h"

#include <stdexcept>

namespace {

const char* const UnknownFailure = "Unknown failure";

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // Caught here, at the innermost delivery, so a failure inside a modal window's own loop is
    // reported once, by that loop, and the window stays open.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ApplicationHandleException(receiver, e);
    } catch (...) {
        ApplicationHandleException(receiver, std::runtime_error(UnknownFailure));
    }
    return false;
}
