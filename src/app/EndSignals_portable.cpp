#include "app/StopEverywhere.h"

bool EndSignals::deliverTo(QObject*, const std::function<void(int)>&)
{
    return false;
}
