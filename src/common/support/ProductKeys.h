#pragma once
// Where the product keeps its settings, and the names of those settings.

// Under HKEY_LOCAL_MACHINE.
#define QV_PRODUCT_KEY           L"Software\\Quorvane\\NORDAL"
#define QV_DEBUGLOG_KEY          L"Software\\Quorvane\\NORDAL\\1\\DebugLog"

// Debug-log session subkeys (or INI sections).
#define QV_DEBUGLOG_INTERACTIVE  L"InteractiveSession"
#define QV_DEBUGLOG_PROTECTED    L"ProtectedSession"
#define QV_DEBUGLOG_SERVICE      L"ServiceSession"

// Values of the product key.
#define QV_VALUE_PRODUCT_PATH    L"ProductPath"
#define QV_VALUE_LANGUAGE        L"Language"
#define QV_VALUE_INSTALL_CULTURE L"InstallLangCultureName"
#define QV_VALUE_WORKING_SET_MB  L"WorkingSetMB"
#define QV_VALUE_ENABLE_KEYSTROKE L"EnableKeystroke"
// Milliseconds between two memory checks of the agent; the product's 180000
// when missing. Tests shorten it.
#define QV_VALUE_MEMORY_CHECK_INTERVAL L"MemoryCheckInterval"

// Values of the debug-log key and its session subkeys.
#define QV_VALUE_DUMP_TYPE       L"DumpType"
#define QV_VALUE_LOG_ENABLE      L"Enable"
#define QV_VALUE_LOG_LEVEL       L"Level"
#define QV_VALUE_LOG_PROCESS     L"LogProcess"
#define QV_VALUE_LOG_UNIT_TYPE   L"LogUnitType"
#define QV_VALUE_LOG_FOLDER      L"LogFolder"
#define QV_VALUE_LOG_PREFIX      L"LogPrefix"
#define QV_VALUE_LOG_FILE        L"LogFile"
#define QV_VALUE_LOG_EXTENSION   L"LogExtension"
#define QV_VALUE_LOG_ROBUST      L"Robust"
#define QV_VALUE_LOG_DEBUGGER    L"Debugger"

#define QV_DEFAULT_LANGUAGE      L"EN-US"
