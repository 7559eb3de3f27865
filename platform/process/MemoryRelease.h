#pragma once

// Gives the memory the allocator holds free back to the system. After a large answer (a folder
// of many thousand files) the heap keeps its peak otherwise, since the allocator returns only
// what lies at its top.
void releaseFreedMemory();
