// How many descriptors the stand-in inherited besides the standard three; -1
// where the system offers no way to count them.
#pragma once

int inheritedDescriptorCount();
