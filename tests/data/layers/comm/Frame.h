#pragma once

#include "app/BLDC.h"
#include "comm/Other.h"
