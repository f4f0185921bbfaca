// A bus header that breaks both rules, so that the layer check is seen to fail.
#pragma once

#include <QString>

#include "app/Top.h"
