#include "payload/system_calls.h"

SystemCalls g_system_calls = {WriteFile, CloseHandle, DuplicateHandle};
