// VormaSnmpUsmEncrypt: enciphers the pass phrases of the SNMP settings files. No arguments.
#include "platform/Program.h"
#include "platform/Text.h"
#include "usmencrypt/UsmEncrypt.h"

int main() {
    // The user's locale: console messages and the settings files use its encoding.
    platform::InitProcessLocale();
    return platform::ExitStatus(static_cast<unsigned long>(CUsmEncrypt().Run()));
}
