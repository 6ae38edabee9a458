#pragma once
// The calendar time on the virtual clock lives beside that clock.

#include "FakeClock.h"
