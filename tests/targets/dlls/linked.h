// linked.dll: linked to calc at start.
#pragma once

__declspec(dllimport) int linked_add(int a, int b);
__declspec(dllimport) int linked_subtract(int a, int b);
