#include "platform/process/DpiAwareness.h"

void setupDpiAwareness() {}
