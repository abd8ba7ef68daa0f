#pragma once

#include <QtGlobal>
#include <cstdint>
