// VormaSnmpManager: the SNMP trap manager service. "install" and "uninstall" register and remove
// the service; without them the program runs as the service.
#include "platform/Program.h"
#include "platform/Service.h"
#include "platform/Text.h"
#include "service/ProgramEntry.h"

int main(int argc, char** argv) {
    // Before anything else: a stop signal that comes while the program starts must wait for the
    // service's dispatcher, not end the process with nothing written.
    platform::HoldServiceControlSignals();
    // The locale comes next: file names, file contents and times of every later step follow it.
    platform::InitProcessLocale();
    return platform::ExitStatus(ProgramMain(platform::ProgramArguments(argc, argv)));
}
