#include "inherited.h"

// Programs are started with handle inheritance switched off (CreateProcessA's
// bInheritHandles is FALSE), and a process cannot list its own handles.
int inheritedDescriptorCount() { return -1; }
