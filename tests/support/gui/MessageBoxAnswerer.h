#pragma once

#include "platform/shell/MessageBox.h"

#include <QList>

// Answers the message boxes the code shows, from a queue of results, and records every request.
// With the queue empty a box is answered with its Escape button. Installs itself while alive.
class TMessageBoxAnswerer final : public IMessageBoxes
{
public:
    TMessageBoxAnswerer();
    ~TMessageBoxAnswerer() override;

    void SetNextAnswer(int modalResult) { FAnswers.append(modalResult); }
    int Show(const TMessageBoxRequest& request) override;

    const QList<TMessageBoxRequest>& Shown() const { return FShown; }
    void Clear() { FShown.clear(); }

private:
    QList<int> FAnswers;
    QList<TMessageBoxRequest> FShown;
};
