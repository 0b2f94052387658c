#include <unistd.h>

#include "tools/host/windows/console_text.h"

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}
