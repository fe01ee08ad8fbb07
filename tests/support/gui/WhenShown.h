#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Runs `step` on the modal window of type Window once it is up, so a test can act inside a
// modal showing without a person.
template <typename Window>
void WhenShown(std::function<void(Window*)> step)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [step, poll] {
        if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
            step(window);
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}
