#pragma once
// The routines the window's handlers call, in one include.
#include "BoxImage.h"
#include "Charts.h"
#include "Controls.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "Link.h"
#include "SentData.h"
#include "StartUp.h"
#include "TableEditing.h"
#include "TableLayout.h"
#include "TuningFile.h"
#include "Variables.h"
