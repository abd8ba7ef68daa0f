#include "comm/Frame.h"

#include <QtWidgets/QWidget>
