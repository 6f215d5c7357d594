/* Every public header, compiled as C. */
#include "Vantrel.h"
#include "VantrelGameController.h"
#include "VantrelMessageAgent.h"
#include "VantrelProcessHelper.h"
#include "VantrelServer.h"
#include "VantrelServerController.h"

/* Layout facts the C++ side checks against its own view of the same types. */
int druxCHeaderSize(void) { return (int)sizeof(VantrelMessageHeader); }
int druxCPatchTableSize(void) { return (int)sizeof(PatchFunctionTable); }
int druxCInvalidMessageType(void) { return (int)VANTRELMESSAGETYPE_INVALID; }
int druxCLogErrorLevel(void) { return VANTREL_LOG_ERROR; }
