#include "platform/DpiAwareness.h"

void setupDpiAwareness() {}
