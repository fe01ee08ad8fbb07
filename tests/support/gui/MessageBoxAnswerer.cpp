#include "support/gui/MessageBoxAnswerer.h"

TMessageBoxAnswerer::TMessageBoxAnswerer()
{
    SetMessageBoxes(this);
}

TMessageBoxAnswerer::~TMessageBoxAnswerer()
{
    SetMessageBoxes(nullptr);
}

int TMessageBoxAnswerer::Show(const TMessageBoxRequest& request)
{
    FShown.append(request);
    if (!FAnswers.isEmpty())
        return FAnswers.takeFirst();
    return request.EscapeResult != mrNone ? request.EscapeResult
                                          : EscapeButtonResult(request.Buttons);
}
