#include "app/SessionEnd.h"
#include "link/EndSignals.h"
#include "ui/ErrorBox.h"

void closeOnSessionEnd(std::function<void()> close)
{
    zev::onEndSignal([close = std::move(close)] {
        endOfSessionErrors();
        close();
    });
}
