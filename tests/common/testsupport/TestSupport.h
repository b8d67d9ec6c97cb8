#pragma once
// The shared test kit: every test program and helper process includes this.
// Extend it rather than writing a helper again in a test folder.
#include "ConcurrencyProbe.h"
#include "LaunchRecord.h"
#include "ListenerRecorder.h"
#include "ProcessList.h"
#include "TestEnvironment.h"
#include "TestFiles.h"
#include "TestLog.h"
#include "TestNames.h"
#include "TestProcess.h"
#include "TestProviders.h"
#include "TestRegistry.h"
#include "TestWait.h"
