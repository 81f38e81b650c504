#pragma once
// The state the window's tables start in, written once the controls exist.
#include "Controls.h"
#include "Variables.h"

// The 2-channel layout with P9's button disabled, the names of the configuration row and
// the SENT rows, every table decoded from the all-zero receive buffer ("0" everywhere), and
// the dyno log labelled and reset.
void InitialiseTables(FormControls& form, Variables& vars);
