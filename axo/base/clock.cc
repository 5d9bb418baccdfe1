// The framework clock.
#include "axo/base/clock.h"

#include "axo/base/env.h"
#include "axo/base/testpause.h"

time_t AXO_Now() { return axo::Env::Current()->Now() + AXO_TestClockFileOffset(); }
