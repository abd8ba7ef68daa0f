#include "comm/Frame.h"
#include "panels/Panel.h"
